// Stands in for Apple's header on Linux, for the syntax check only: the
// Accessibility calls and constant the host uses, declared as macOS's SDK
// declares them (Boolean is unsigned char, CF types are opaque pointers).
#pragma once

typedef unsigned char Boolean;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFDictionary* CFDictionaryRef;

extern "C" {
extern CFStringRef kAXTrustedCheckOptionPrompt;
Boolean AXIsProcessTrusted(void);
Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options);
}
