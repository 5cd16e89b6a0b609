// Included before everything else: GNU's objc.h defines YES and NO as casts,
// which `@YES` cannot box; Apple's objc.h defines them as the literals below.
#pragma once
#import <objc/objc.h>
#undef YES
#undef NO
#define YES __objc_yes
#define NO __objc_no
