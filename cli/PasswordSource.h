#pragma once
#include <istream>
#include <string>

#include "SecretText.h"

/// Where terminalctl gets the administrator's password from: one line of standard input
/// (--password-stdin, for scripts) or the controlling terminal with echo switched off (the
/// stand-in for the login dialog). The password never appears in arguments, output or the
/// trace. Stateless functions; called on the main thread before a run starts.
namespace cli
{
/// Codes of the password sources.
enum EPasswordResult : int
{
    PASSWORD_OK = 0,
    PASSWORD_NO_INPUT = -1,    // end of input before anything was read, or no terminal to ask
    PASSWORD_TOO_LONG = -2,    // longer than CSecretText::kMaxLength
    PASSWORD_CANCELLED = -3,   // Ctrl-C while the prompt waited
};

/// Reads one line (up to the first line feed, a trailing carriage return removed). An empty
/// line is a valid (empty) password; end of input with nothing read is PASSWORD_NO_INPUT.
int ReadPasswordLine(std::istream& in, CSecretText& secret);

/// Asks on the controlling terminal (/dev/tty) with strPrompt, echo off, and restores the
/// terminal's mode whatever happens. PASSWORD_NO_INPUT when the process has no terminal.
int AskPasswordOnTerminal(const std::string& strPrompt, CSecretText& secret);
} // namespace cli
