#pragma once

// The longest a connect or logon waits when its time limit is 0 or below
// (only the command line can give one): 15 s. Tests shorten it.
namespace FallbackBound {

int milliseconds();

// Puts another bound in place for its lifetime (tests only).
class Override {
public:
    explicit Override(int milliseconds);
    ~Override();
    Override(const Override &) = delete;
    Override &operator=(const Override &) = delete;

private:
    int m_previous;
};

} // namespace FallbackBound
