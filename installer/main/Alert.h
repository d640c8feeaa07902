#pragma once

#include <string>
#include <utility>
#include <vector>

// A modal alert as every front draws it: a title, a body, a style and buttons
// in the order they were added. An alert with no buttons gets one default
// acknowledgement button, whose response nobody looks at.

enum class AlertStyle { Warning = 0, Informational = 1, Critical = 2 };

// The first button answers 1000, each later one one more.
inline constexpr int kAlertFirstButtonReturn = 1000;
inline constexpr int kAlertSecondButtonReturn = 1001;
// What a dialog answers when it is dismissed without a choice.
inline constexpr int kAlertDismissed = 0;

struct AlertButton {
  std::string title;
  bool enabled = true;
};

struct Alert {
  std::string title;
  std::string informativeText;
  AlertStyle style = AlertStyle::Warning;
  std::vector<AlertButton> buttons;

  void addButton(std::string buttonTitle) { buttons.push_back({std::move(buttonTitle), true}); }
};
