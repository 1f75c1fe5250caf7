#include "base/ProcessLaunch.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace marrowbell {

pid_t ProcessLaunch::start() const {
    std::vector<std::string> argumentStrings;
    argumentStrings.reserve(arguments.size() + 1);
    argumentStrings.push_back(executable.string());
    argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argumentStrings)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environmentStrings;
    std::vector<char*> envp;
    if (environment) {
        for (const auto& [name, value] : *environment)
            environmentStrings.push_back(name + "=" + value);
        for (std::string& entry : environmentStrings)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int target = 0; target < 3; ++target) {
        if (streams[target] >= 0)
            posix_spawn_file_actions_adddup2(&actions, streams[target], target);
        else
            posix_spawn_file_actions_addopen(&actions, target, "/dev/null",
                                             target == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    }
    // Nothing else this process holds open, a terminal least of all, reaches the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    if (workingDirectory && !workingDirectory->empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory->c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own (which leads a new group too) with no controlling terminal,
    // so the child can neither open the user's terminal nor push input into its shell.
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    // Signals this program ignores (SIGPIPE, say) must not stay ignored in the child.
    sigfillset(&signals);
    sigdelset(&signals, SIGKILL);
    sigdelset(&signals, SIGSTOP);
    posix_spawnattr_setsigdefault(&attributes, &signals);

    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(),
                                    environment ? envp.data() : environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error == 0 ? pid : -error;
}

int ProcessLaunch::exitStatus(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return WTERMSIG(waitStatus);
    return -1;
}

} // namespace marrowbell
