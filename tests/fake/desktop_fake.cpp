#include <algorithm>

#include "fake/world.h"
#include "platform/desktop.h"

namespace platform {

namespace {

constexpr WindowHandle kDesktop{0x10010};

// A copy, so that a visit may change the world.
std::vector<fake::Window> ChildrenOf(WindowHandle parent) {
    const auto lock = fake::Lock();
    std::vector<fake::Window> children;
    for (const auto& window : fake::TheWorld().windows) {
        if (window.parent == (parent == kDesktop ? WindowHandle{} : parent)) {
            children.push_back(window);
        }
    }
    return children;
}

// Depth first, each window before its own descendants, as EnumChildWindows goes.
bool VisitDescendants(WindowHandle parent, const std::function<bool(WindowHandle)>& visit) {
    for (const auto& child : ChildrenOf(parent)) {
        if (!visit(child.handle) || !VisitDescendants(child.handle, visit)) {
            return false;
        }
    }
    return true;
}

std::u16string Cut(const std::u16string& text, std::uint32_t maxCount) {
    return maxCount == 0 ? std::u16string() : text.substr(0, maxCount - 1);
}

}  // namespace

WindowHandle DesktopWindow() {
    return kDesktop;
}

void EnumDescendants(WindowHandle parent, const std::function<bool(WindowHandle)>& visit) {
    fake::Record("EnumChildWindows " + fake::Hex(parent.value));
    VisitDescendants(parent, visit);
}

std::u16string ClassNameOf(WindowHandle window, std::uint32_t maxCount) {
    const auto lock = fake::Lock();
    const fake::Window* found = fake::FindWindow(window);
    return found == nullptr || found->gone ? std::u16string() : Cut(found->className, maxCount);
}

std::u16string TitleOf(WindowHandle window, std::uint32_t maxCount) {
    const auto lock = fake::Lock();
    const fake::Window* found = fake::FindWindow(window);
    return found == nullptr || found->gone ? std::u16string() : Cut(found->title, maxCount);
}

WindowHandle FirstChild(WindowHandle window) {
    const auto lock = fake::Lock();
    const auto children = ChildrenOf(window);
    return children.empty() ? WindowHandle{} : children.front().handle;
}

std::uint32_t RegisterMessageName(const char16_t* name) {
    const auto lock = fake::Lock();
    auto& registered = fake::TheWorld().registeredMessages;
    const auto [entry, added] =
        registered.try_emplace(name, 0xC000 + static_cast<std::uint32_t>(registered.size()));
    return entry->second;
}

void EnumTopLevelWindows(const std::function<bool(WindowHandle)>& visit) {
    fake::Record("EnumWindows");
    for (const auto& window : ChildrenOf(kDesktop)) {
        if (!visit(window.handle)) {
            return;
        }
    }
}

bool SendWithTimeout(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                     std::intptr_t lParam, std::uint32_t flags, std::uint32_t timeoutMs,
                     std::uintptr_t& result) {
    const auto lock = fake::Lock();
    fake::Record("SendMessageTimeout " + fake::Hex(window.value) + " " + fake::Hex(message) + " " +
                 fake::Hex(wParam) + " " + fake::Hex(static_cast<std::uintptr_t>(lParam)) + " " +
                 std::to_string(flags) + " " + std::to_string(timeoutMs));
    fake::TheWorld().sent.push_back({window, message, wParam, lParam, flags, timeoutMs});
    const fake::Window* found = fake::FindWindow(window);
    if (found == nullptr || found->gone) {
        return false;
    }
    if (!found->reply) {
        fake::TheWorld().virtualTimeMs += timeoutMs;
        return false;
    }
    result = *found->reply;
    return true;
}

bool BringToForeground(WindowHandle window) {
    const auto lock = fake::Lock();
    fake::Record("SetForegroundWindow " + fake::Hex(window.value));
    fake::TheWorld().foreground = window;
    return true;
}

WindowHandle ForegroundWindow() {
    const auto lock = fake::Lock();
    return fake::TheWorld().foreground;
}

bool IsMaximized(WindowHandle window) {
    const auto lock = fake::Lock();
    const fake::Window* found = fake::FindWindow(window);
    return found != nullptr && found->maximized;
}

void ShowWindowAs(WindowHandle window, int command) {
    fake::Record("ShowWindow " + fake::Hex(window.value) + " " + std::to_string(command));
}

WindowHandle FindTopLevelWindow(const char16_t* className) {
    const auto lock = fake::Lock();
    fake::Record("FindWindow " + fake::Narrow(className));
    for (const auto& window : ChildrenOf(kDesktop)) {
        if (!window.gone && window.className == className) {
            return window.handle;
        }
    }
    return {};
}

std::uint32_t WindowProcessId(WindowHandle window) {
    const auto lock = fake::Lock();
    const fake::Window* found = fake::FindWindow(window);
    return found == nullptr || found->gone ? 0 : found->processId;
}

}  // namespace platform
