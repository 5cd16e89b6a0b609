// Stands in for Apple's <AppKit/AppKit.h> on Linux, for the syntax check only:
// GNUstep's, with what Apple's NSApplication has and GNUstep's lacks, declared
// as macOS's SDK declares it (GNUstep has the policy type and its values).
#pragma once

#include_next <AppKit/AppKit.h>

@interface NSApplication (QuorvaCheckActivationPolicy)
- (NSApplicationActivationPolicy)activationPolicy;
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
@end
