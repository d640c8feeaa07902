// The macOS front: AppKit start-up, NSAlert dialogs, the bundle's resources
// and the home folder, over MacFilePlatform's files. Every rule lives in
// InstallerApp.

#import <AppKit/AppKit.h>

#include <cstdlib>

#include "BundleCopy.h"
#include "HelperInstaller.h"

namespace {

NSString* toNSString(const std::string& text) {
  NSString* string = [NSString stringWithUTF8String:text.c_str()];
  return string != nil ? string : @"";
}

// The prompt must open in front even when another app has the focus. From
// macOS 14 activateIgnoringOtherApps: is deprecated and mostly ignored under
// cooperative activation; SDKs before 14 do not declare its successor at all.
void bringToFront() {
#if __MAC_OS_X_VERSION_MAX_ALLOWED >= 140000
  if (@available(macOS 14, *)) {
    [NSApp activate];
    return;
  }
#endif
  [NSApp activateIgnoringOtherApps:YES];
}

class MacPlatform final : public MacFilePlatform {
 public:
  // The alert style values match NSAlertStyle's, and NSAlert numbers its
  // buttons' responses from NSAlertFirstButtonReturn (1000) as Alert does.
  int runModal(const Alert& description) override {
    NSAlert* alert = [[NSAlert alloc] init];
    alert.messageText = toNSString(description.title);
    alert.informativeText = toNSString(description.informativeText);
    alert.alertStyle = static_cast<NSAlertStyle>(description.style);
    for (const AlertButton& button : description.buttons) {
      [alert addButtonWithTitle:toNSString(button.title)].enabled = button.enabled;
    }
    return static_cast<int>([alert runModal]);
  }

  std::optional<std::string> pathForResource(const std::string& name, const std::string& type) override {
    NSString* path = [[NSBundle mainBundle] pathForResource:toNSString(name) ofType:toNSString(type)];
    if (path == nil) return std::nullopt;
    return std::string(path.fileSystemRepresentation);
  }

  std::string homeDirectory() override { return NSHomeDirectory().fileSystemRepresentation; }
};

}  // namespace

@interface InstallerAppDelegate : NSObject <NSApplicationDelegate>
@end

@implementation InstallerAppDelegate {
  MacPlatform _platform;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
  (void)notification;
  bringToFront();
  InstallerApp installer(_platform, AgentSystem::Launchd);
  const Outcome outcome = installer.applicationDidFinishLaunching();
  // terminate: always ends the process with status 0. Nothing here waits for
  // its termination notifications, so the outcome goes straight to exit(3),
  // which ends the process as terminate: itself does after them.
  std::exit(static_cast<int>(outcome));
}

@end

NSApplication* app;
InstallerAppDelegate* delegate;

int main() {
  @autoreleasepool {
    app = [NSApplication sharedApplication];
    delegate = [[InstallerAppDelegate alloc] init];
    app.delegate = delegate;
    [app run];
  }
  return 0;
}
