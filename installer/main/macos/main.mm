// The macOS front: AppKit start-up, NSAlert dialogs, the bundle's resources,
// the home folder and the bundle copy. Every rule lives in InstallerApp.

#import <AppKit/AppKit.h>

#include <cerrno>
#include <copyfile.h>
#include <cstring>
#include <sys/stat.h>

#include "FileErrorText.h"
#include "HelperInstaller.h"
#include "PosixPlatform.h"

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

class MacPlatform final : public PosixPlatform {
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

  // copyfile keeps the bundle's symlinks and extended attributes, which its
  // code signature depends on.
  FileError copyItem(const std::string& from, const std::string& to) override {
    struct stat existing {};
    if (lstat(to.c_str(), &existing) == 0)
      return describeFileError("copy \"" + from + "\" to", to, std::strerror(EEXIST));
    if (copyfile(from.c_str(), to.c_str(), nullptr, COPYFILE_ALL | COPYFILE_RECURSIVE) != 0) {
      return describeFileError("copy \"" + from + "\" to", to, std::strerror(errno));
    }
    return std::nullopt;
  }
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
  installer.applicationDidFinishLaunching();
  [NSApp terminate:nil];
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
