#include "fake_input.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <dlfcn.h>

#include <chrono>
#include <thread>

namespace kestrel::test {

struct FakeInput::Parts {
    using MotionFn = int (*)(Display*, int, int, int, unsigned long);
    using ButtonFn = int (*)(Display*, unsigned, Bool, unsigned long);
    using KeyFn = int (*)(Display*, unsigned, Bool, unsigned long);
    void* library = nullptr;
    Display* display = nullptr;
    MotionFn motion = nullptr;
    ButtonFn button = nullptr;
    KeyFn key = nullptr;

    void flushAndWait(int ms) {
        XFlush(display);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

FakeInput::FakeInput() : parts_(new Parts) {
    parts_->library = ::dlopen("libXtst.so.6", RTLD_NOW);
    if (!parts_->library) return;
    parts_->motion = reinterpret_cast<Parts::MotionFn>(::dlsym(parts_->library, "XTestFakeMotionEvent"));
    parts_->button = reinterpret_cast<Parts::ButtonFn>(::dlsym(parts_->library, "XTestFakeButtonEvent"));
    parts_->key = reinterpret_cast<Parts::KeyFn>(::dlsym(parts_->library, "XTestFakeKeyEvent"));
    parts_->display = XOpenDisplay(nullptr);
}

FakeInput::~FakeInput() {
    if (parts_->display) XCloseDisplay(parts_->display);
    if (parts_->library) ::dlclose(parts_->library);
    delete parts_;
}

bool FakeInput::ready() const { return parts_->display && parts_->motion && parts_->button && parts_->key; }

void FakeInput::moveTo(int x, int y) {
    parts_->motion(parts_->display, -1, x, y, 0);
    parts_->flushAndWait(15);
}

void FakeInput::press() {
    parts_->button(parts_->display, 1, True, 0);
    parts_->flushAndWait(80);
}

void FakeInput::release() {
    parts_->button(parts_->display, 1, False, 0);
    parts_->flushAndWait(80);
}

void FakeInput::escape() {
    const unsigned code = XKeysymToKeycode(parts_->display, XK_Escape);
    parts_->key(parts_->display, code, True, 0);
    parts_->key(parts_->display, code, False, 0);
    parts_->flushAndWait(80);
}

}  // namespace kestrel::test
