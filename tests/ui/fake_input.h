// The mouse and keyboard of an X11 display, driven through the XTEST
// extension (loaded at run time). Kept apart from Qt: Xlib's macros clash
// with Qt's headers.
#pragma once

namespace kestrel::test {

class FakeInput {
public:
    FakeInput();
    ~FakeInput();
    FakeInput(const FakeInput&) = delete;
    FakeInput& operator=(const FakeInput&) = delete;

    // False without a display or without XTEST.
    bool ready() const;

    // Each call waits a little after sending, as a hand would.
    void moveTo(int x, int y);
    void press();
    void release();
    void escape();

private:
    struct Parts;
    Parts* parts_;
};

}  // namespace kestrel::test
