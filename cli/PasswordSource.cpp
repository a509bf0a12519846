#include "PasswordSource.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace cli
{
int ReadPasswordLine(std::istream& in, CSecretText& secret)
{
    secret.Clear();
    bool bAny = false;
    char c = 0;
    while (in.get(c))
    {
        bAny = true;
        if (c == '\n')
            break;
        if (!secret.Append(c))
        {
            secret.Clear();
            return PASSWORD_TOO_LONG;
        }
    }
    c = 0;
    if (!bAny)
        return PASSWORD_NO_INPUT;
    secret.TrimLineEnd();
    return PASSWORD_OK;
}

int AskPasswordOnTerminal(const std::string& strPrompt, CSecretText& secret)
{
    secret.Clear();
    const int nFd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (nFd < 0)
        return PASSWORD_NO_INPUT;
    termios old{};
    if (::tcgetattr(nFd, &old) != 0)
    {
        ::close(nFd);
        return PASSWORD_NO_INPUT;
    }
    termios quiet = old;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
    (void)!::write(nFd, strPrompt.data(), strPrompt.size());
    ::tcsetattr(nFd, TCSAFLUSH, &quiet);

    int nResult = PASSWORD_OK;
    bool bAny = false;
    for (;;)
    {
        char c = 0;
        const ssize_t n = ::read(nFd, &c, 1);
        if (n < 0 && errno == EINTR)
        {
            // The Ctrl-C handler does not restart reads: the prompt counts as cancelled.
            nResult = PASSWORD_CANCELLED;
            break;
        }
        if (n <= 0)
        {
            nResult = bAny ? PASSWORD_OK : PASSWORD_NO_INPUT;
            break;
        }
        bAny = true;
        if (c == '\n')
            break;
        if (!secret.Append(c))
        {
            nResult = PASSWORD_TOO_LONG;
            break;
        }
    }
    ::tcsetattr(nFd, TCSAFLUSH, &old);
    (void)!::write(nFd, "\n", 1);
    ::close(nFd);
    if (nResult != PASSWORD_OK)
        secret.Clear();
    else
        secret.TrimLineEnd();
    return nResult;
}
} // namespace cli
