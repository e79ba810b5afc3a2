#include "ToolRun.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

extern char **environ;

ToolUnderTest g_tool;

namespace {

void Check(bool ok, const char *what)
{
    if (!ok)
        throw std::runtime_error(std::string(what) + ": " + strerror(errno));
}

} // namespace

ToolResult RunTool(const std::vector<std::string> &args, const std::map<std::string, std::string> &env,
                   const std::string &exe, const ToolInput &input)
{
    std::vector<std::string> command;
    if (!g_tool.wine.empty())
        command.push_back(g_tool.wine);
    command.push_back(exe.empty() ? g_tool.exe : exe);
    command.insert(command.end(), args.begin(), args.end());
    return RunCommand(command, env, input);
}

ToolResult RunCommand(std::vector<std::string> command, const std::map<std::string, std::string> &env,
                      const ToolInput &input)
{
    std::vector<char *> argv;
    for (std::string &arg : command)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    std::vector<std::string> environment;
    for (char **entry = environ; *entry != nullptr; entry++) {
        std::string name(*entry, strcspn(*entry, "="));
        if (env.count(name) == 0)
            environment.push_back(*entry);
    }
    for (const auto &variable : env)
        environment.push_back(variable.first + "=" + variable.second);
    std::vector<char *> envp;
    for (std::string &entry : environment)
        envp.push_back(&entry[0]);
    envp.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    int inPipe[2] = {-1, -1};
    int terminal = -1;
    Check(pipe2(outPipe, O_CLOEXEC) == 0 && pipe2(errPipe, O_CLOEXEC) == 0, "pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input.kind == ToolInput::Text) {
        // A wanted state is far smaller than a pipe holds: it is written whole before the program runs.
        Check(input.text.size() < 65536 && pipe2(inPipe, O_CLOEXEC) == 0, "pipe");
        posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    } else if (input.kind == ToolInput::Terminal) {
        terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        Check(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0, "posix_openpt");
        posix_spawn_file_actions_addopen(&actions, 0, ptsname(terminal), O_RDONLY | O_NOCTTY, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (inPipe[0] >= 0) {
        close(inPipe[0]);
        // A program that ends without reading its input closes the pipe: that is its answer, not a failure here.
        signal(SIGPIPE, SIG_IGN);
        ssize_t written = write(inPipe[1], input.text.data(), input.text.size());
        Check(written == (ssize_t)input.text.size() || errno == EPIPE, "write");
        close(inPipe[1]);
    }
    errno = spawned;
    Check(spawned == 0, command[0].c_str());

    ToolResult result;
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        Check(poll(fds, 2, -1) >= 0 || errno == EINTR, "poll");
        for (int index = 0; index < 2; index++) {
            if (fds[index].fd < 0 || fds[index].revents == 0)
                continue;
            char buffer[4096];
            ssize_t got = read(fds[index].fd, buffer, sizeof(buffer));
            if (got > 0) {
                sinks[index]->append(buffer, (size_t)got);
            } else {
                close(fds[index].fd);
                fds[index].fd = -1;
                open--;
            }
        }
    }
    int status = 0;
    Check(waitpid(pid, &status, 0) == pid, "waitpid");
    if (terminal >= 0)
        close(terminal);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string MaxSizeMB()
{
    // What fits SIZE_T once multiplied by 1,048,576: 2^12 - 1 or 2^44 - 1.
    return g_tool.sizeBits == 64 ? "17592186044415" : "4095";
}

std::string Describe(const std::vector<std::string> &args)
{
    std::string text = "Velmora";
    for (const std::string &arg : args)
        text += " [" + arg + "]";
    return text;
}

std::string AsWritten(const std::string &text)
{
    if (g_tool.wine.empty())
        return text;
    std::string written;
    for (char c : text) {
        if (c == '\n')
            written += '\r';
        written += c;
    }
    return written;
}

std::string StateValue(const std::string &state, const std::string &key)
{
    std::string line = "\n" + key + "=";
    size_t start = ("\n" + state).find(line);
    if (start == std::string::npos)
        return "(none)";
    start += line.size() - 1;
    return state.substr(start, state.find('\n', start) - start);
}

std::vector<std::string> ReadLines(const std::string &path)
{
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

std::string DocumentBlock(const std::string &document, const std::string &marker)
{
    std::vector<std::string> lines = ReadLines(std::string(VELMORA_SOURCE_DIR) + "/" + document);
    if (lines.empty())
        throw std::runtime_error("cannot read " + document);
    std::vector<std::string> found;
    std::string text;
    bool inBlock = false, holds = false;
    for (std::string line : lines) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!inBlock) {
            inBlock = line.rfind("```", 0) == 0;
            text.clear();
            holds = false;
        } else if (line == "```") {
            if (holds)
                found.push_back(text);
            inBlock = false;
        } else {
            text += line + "\n";
            holds = holds || line.find(marker) != std::string::npos;
        }
    }
    if (found.size() != 1)
        throw std::runtime_error(document + ": " + std::to_string(found.size()) + " blocks hold '" + marker + "', not one");
    return found[0];
}

std::string ReadFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const std::string &path, const std::string &text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file.flush())
        throw std::runtime_error("cannot write " + path);
}

std::string MakeTempDir()
{
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/velmora-test-XXXXXX";
    Check(mkdtemp(&pattern[0]) != nullptr, "mkdtemp");
    return pattern;
}

std::string Visible(const std::string &text)
{
    std::string shown;
    for (char c : text) {
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else
            shown += c;
    }
    return "\"" + shown + "\"";
}

std::string RegexEscape(const std::string &text)
{
    std::string escaped;
    for (char c : text) {
        if (c != '\0' && strchr("\\^$.|?*+()[]{}", c) != nullptr)
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

testing::AssertionResult Matches(const std::string &expected, const std::string &out)
{
    std::string pattern;
    for (size_t at = 0; at < expected.size();) {
        if (expected.compare(at, AnyLine.size(), AnyLine) == 0) {
            pattern += "[0-9]+";
            at += AnyLine.size();
        } else if (expected.compare(at, AnyText.size(), AnyText) == 0) {
            pattern += "[^\r\n]+";
            at += AnyText.size();
        } else {
            pattern += RegexEscape(std::string(1, expected[at++]));
        }
    }
    if (std::regex_match(out, std::regex(pattern)))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\n  expected: " << Visible(expected) << "\n  got:      " << Visible(out);
}
