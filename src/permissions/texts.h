#pragma once

#include <string>

// The permissions window's texts, Persian first. Invisible and easily lost
// characters are written as escapes so a reviewer can see them:
//   \u200c zero-width non-joiner   \u0654 hamza above
//   \u060c Arabic comma            \u061b Arabic semicolon
//   \u00ab \u00bb guillemets
namespace permissions::texts {

inline const std::string kTitlePersian = "دسترسی\u200cهای کوروا";
inline const std::string kTitleEnglish = "Quorva permissions";

inline const std::string kBodyPersian =
    "برای دیدن صفحه و کار با برنامه\u200cها\u060c به کوروا اجازه\u0654 دسترسی بده."
    " این قابلیت بخشی از کوروا است.\n\n"
    "در تنظیمات macOS\u060c \u00abQuorva\u00bb را در Accessibility و Screen Recording"
    " فعال کن\u061b سپس کوروا را دوباره باز کن.";
inline const std::string kBodyEnglish =
    "Allow Quorva to see the screen and work with apps. Desktop control is built into "
    "Quorva.\n\nEnable Quorva in macOS Accessibility and Screen Recording, then restart Quorva.";

inline const std::string kAccessibilityButtonPersian = "کنترل برنامه\u200cها";
inline const std::string kAccessibilityButtonEnglish = "Control apps";

inline const std::string kScreenButtonPersian = "دیدن صفحه";
inline const std::string kScreenButtonEnglish = "See the screen";

// For screen readers: the logo's name, and what each button does.
inline const std::string kLogoNamePersian = "کوروا";
inline const std::string kLogoNameEnglish = "Quorva";
inline const std::string kAccessibilityButtonDoesPersian =
    "اجازه\u0654 Accessibility را درخواست می\u200cکند و تنظیمات آن را باز می\u200cکند";
inline const std::string kAccessibilityButtonDoesEnglish =
    "Asks for the Accessibility permission and opens its settings";
inline const std::string kScreenButtonDoesPersian =
    "اجازه\u0654 Screen Recording را درخواست می\u200cکند و تنظیمات آن را باز می\u200cکند";
inline const std::string kScreenButtonDoesEnglish =
    "Asks for the Screen Recording permission and opens its settings";

inline const std::string kLogoPersian = "quorva-lockup-fa-off-white-w360";
inline const std::string kLogoEnglish = "quorva-lockup-en-off-white-w360";
inline const std::string kIcon = "quorva-icon-128";

}  // namespace permissions::texts
