#include "platform/window.h"

#include "platform/application.h"
#include "platform/display.h"
#include "platform/toolkit.h"

namespace platform {

bool windowsAvailable() {
    return toolkit() != nullptr;
}

bool windowsAnswerNow() {
    const Toolkit* running = Application::shared().startedToolkit();
    return !running || !running->onDisplay() || displayAnswers();
}

Window::Window(const WindowLayout& layout) : impl_(toolkit()->window(layout)) {}

Window::~Window() = default;

void Window::center() {
    impl_->center();
}

void Window::makeKeyAndOrderFront() {
    impl_->makeKeyAndOrderFront();
}

bool Window::isVisible() const {
    return impl_->isVisible();
}

QWidget* Window::widget() const {
    return impl_->widget();
}

}  // namespace platform
