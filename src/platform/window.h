#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

class QWidget;

namespace platform {

class ToolkitWindow;

// Frames use the macOS convention: origin at the bottom-left corner of the
// content area, y upward, in points (logical pixels).
struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

struct Color {
    int red = 0, green = 0, blue = 0;  // 0..255, opaque
    bool operator==(const Color&) const = default;
};

enum class Alignment { Left, Right };

// What a screen reader says of a view: its name (a text or a title is one
// already) and what it does.
struct Accessible {
    std::string name, description;
};

// An image scaled proportionally down into its frame; no image leaves it empty.
struct ImageView {
    std::string name;
    Rect frame;
    std::optional<std::string> imagePath;
    Accessible accessible;
};

// A wrapping, non-editable text. An empty family means the system font.
struct Label {
    std::string name;
    Rect frame;
    std::string text;
    std::string fontFamily;
    int pixelSize = 0;
    Color color;
    Alignment alignment = Alignment::Left;
};

// A push button with the platform's rounded look.
struct Button {
    std::string name;
    Rect frame;
    std::string title;
    std::function<void()> action;
    Accessible accessible;
};

using View = std::variant<ImageView, Label, Button>;

// A titled window with a close button; not resizable, not miniaturizable.
struct WindowLayout {
    int width = 0, height = 0;  // content size
    std::string title;
    Color background;
    std::vector<View> views;  // added to the content in this order
    // Right to left: reading, and moving between the buttons with Tab, go
    // from the right; the frames stay where they are.
    bool rightToLeft = false;
    // For task bars and window switchers; none leaves the desktop's default.
    std::optional<std::string> iconPath;
};

// Whether windows can be made: the toolkit runs, started now if need be.
// False when it cannot be had; the host then goes on without windows.
bool windowsAvailable();

// Whether a window can be shown or brought forward now without waiting: yes,
// but while the display the toolkit's windows are on does not answer (a
// stopped X server, which would hold the host in the toolkit, ticks and all,
// until it came back). A toolkit yet to start picks a display that answers.
bool windowsAnswerNow();

// A window kept for the whole run: closing hides it, nothing releases it.
class Window {
  public:
    explicit Window(const WindowLayout& layout);
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    void center();
    void makeKeyAndOrderFront();
    // On screen for someone to see. Qt's offscreen platform has no screen
    // anyone can look at, so a window there never counts.
    bool isVisible() const;

    // The toolkit's own widget, for tests that look inside.
    QWidget* widget() const;

  private:
    std::unique_ptr<ToolkitWindow> impl_;
};

}  // namespace platform
