// What Apple's AppKit has and GNUstep's lacks, declared as Apple declares it.
#pragma once
#import <AppKit/AppKit.h>

@interface NSApplication (AppleActivationPolicy)
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
@end
