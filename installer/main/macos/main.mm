// The macOS front: AppKit start-up, NSAlert dialogs, the bundle's resources,
// the home folder and the installer's own signature, over MacFilePlatform's
// files. Every rule lives in InstallerApp.

#import <AppKit/AppKit.h>
#import <Security/Security.h>

#include <cstdio>
#include <cstdlib>

#include "BundleCopy.h"
#include "HelperInstaller.h"
#include "InstallerOptions.h"

namespace {

NSString* toNSString(const std::string& text) {
  NSString* string = [NSString stringWithUTF8String:text.c_str()];
  return string != nil ? string : @"";
}

// A borrowed value of a signing-information dictionary, as UTF-8; empty where
// it is missing or no string.
std::string signingText(CFDictionaryRef information, CFStringRef key) {
  const void* value = CFDictionaryGetValue(information, key);
  if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return "";
  const char* text = [(__bridge NSString*)value UTF8String];
  return text != nullptr ? text : "";
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
  // An option chose the action, from a terminal or a script: its alerts are
  // printed, not shown, so that nothing waits for a click.
  explicit MacPlatform(bool printsAlerts = false) : printsAlerts_(printsAlerts) {}

  // The alert style values match NSAlertStyle's, and NSAlert numbers its
  // buttons' responses from NSAlertFirstButtonReturn (1000) as Alert does.
  int runModal(const Alert& description) override {
    if (printsAlerts_) {
      std::printf("%s\n\n%s\n", description.title.c_str(), description.informativeText.c_str());
      return description.buttons.empty() ? kAlertFirstButtonReturn : kAlertDismissed;
    }
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

  // kSecCSSigningInformation adds the Team ID, which only a signature by a
  // certificate carries; an unsigned build yields no identifier at all.
  CodeSignature ownSignature() override {
    CodeSignature signature;
    SecCodeRef code = nullptr;
    if (SecCodeCopySelf(kSecCSDefaultFlags, &code) != errSecSuccess) return signature;
    CFDictionaryRef information = nullptr;
    if (SecCodeCopySigningInformation(code, kSecCSSigningInformation, &information) == errSecSuccess) {
      signature.identifier = signingText(information, kSecCodeInfoIdentifier);
      signature.teamId = signingText(information, kSecCodeInfoTeamIdentifier);
      CFRelease(information);
    }
    CFRelease(code);
    return signature;
  }

 private:
  const bool printsAlerts_;
};

// The options act without AppKit: no application, no prompt, no alert.
int runOptions(const InstallerOptions& options) {
  if (options.kind != InstallerOptions::Kind::Act) {
    const bool help = options.kind == InstallerOptions::Kind::Help;
    std::fputs(kInstallerUsage, help ? stdout : stderr);
    return help ? 0 : static_cast<int>(Outcome::NothingChosen);
  }
  MacPlatform platform(true);
  return static_cast<int>(InstallerApp(platform).perform(options.action));
}

}  // namespace

@interface InstallerAppDelegate : NSObject <NSApplicationDelegate>
@end

@implementation InstallerAppDelegate {
  MacPlatform _platform;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
  (void)notification;
  bringToFront();
  InstallerApp installer(_platform);
  const Outcome outcome = installer.applicationDidFinishLaunching();
  // terminate: always ends the process with status 0. Nothing here waits for
  // its termination notifications, so the outcome goes straight to exit(3),
  // which ends the process as terminate: itself does after them.
  std::exit(static_cast<int>(outcome));
}

@end

NSApplication* app;
InstallerAppDelegate* delegate;

int main(int argc, char* argv[]) {
  const InstallerOptions options = parseInstallerOptions(argc, argv);
  if (options.kind != InstallerOptions::Kind::Prompt) {
    int status = 0;
    @autoreleasepool {
      status = runOptions(options);
    }
    return status;
  }
  @autoreleasepool {
    app = [NSApplication sharedApplication];
    delegate = [[InstallerAppDelegate alloc] init];
    app.delegate = delegate;
    [app run];
  }
  return 0;
}
