#pragma once

// The program's look: a style sheet kept among the program's resources, applied
// to each window as it is made, by the name of its skin object.

class QWidget;

namespace tw {

constexpr const char* kSkinMainFrame = "MainFrame";
constexpr const char* kSkinDialog = "Dialog";

// Loads the style sheet; call once before the first window.
void InitSkin();
// Gives the window its skin object name and the style sheet.
void ApplySkin(QWidget* window, const char* skinObject);
void ShutdownSkin();

}  // namespace tw
