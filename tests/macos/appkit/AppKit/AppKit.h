// The AppKit and Foundation declarations that installer/main/macos/main.mm
// uses, with the signatures of Apple's documentation (arm64's BOOL), for a
// syntax check of that file on machines without the SDK. Which SDK it stands
// for is set by __MAC_OS_X_VERSION_MAX_ALLOWED: before 14.0 there is no
// -[NSApplication activate].
#pragma once

#include <stdint.h>

typedef bool BOOL;
#define YES true
#define nil nullptr
typedef long NSInteger;
typedef unsigned long NSUInteger;
typedef NSInteger NSModalResponse;
typedef NSUInteger NSAlertStyle;
enum : NSUInteger { NSAlertStyleWarning = 0, NSAlertStyleInformational = 1, NSAlertStyleCritical = 2 };

__attribute__((objc_root_class))
@interface NSObject
+ (instancetype)alloc;
- (instancetype)init;
@end

@interface NSString : NSObject
+ (instancetype)stringWithUTF8String:(const char*)nullTerminatedCString;
@property(readonly) const char* fileSystemRepresentation;
@property(readonly) const char* UTF8String;
@end

@class NSNotification;

@interface NSBundle : NSObject
@property(class, readonly, strong) NSBundle* mainBundle;
- (NSString*)pathForResource:(NSString*)name ofType:(NSString*)ext;
@end

NSString* NSHomeDirectory(void);

@interface NSButton : NSObject  // NSControl's, in Apple's headers
@property(getter=isEnabled) BOOL enabled;
@end

@interface NSAlert : NSObject
@property(copy) NSString* messageText;
@property(copy) NSString* informativeText;
@property NSAlertStyle alertStyle;
- (NSButton*)addButtonWithTitle:(NSString*)title;
- (NSModalResponse)runModal;
@end

@protocol NSApplicationDelegate
@optional
- (void)applicationDidFinishLaunching:(NSNotification*)notification;
@end

@interface NSApplication : NSObject
@property(class, readonly, strong) NSApplication* sharedApplication;
@property(weak) id<NSApplicationDelegate> delegate;
- (void)run;
- (void)terminate:(id)sender;
- (void)activateIgnoringOtherApps:(BOOL)flag __attribute__((availability(macos, introduced = 10.0, deprecated = 14.0)));
#if __MAC_OS_X_VERSION_MAX_ALLOWED >= 140000
- (void)activate __attribute__((availability(macos, introduced = 14.0)));
#endif
@end

extern NSApplication* NSApp;
