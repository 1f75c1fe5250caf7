// marrowbell-sandbox -p PROFILE TOOL [ARG…]
//
// Confines TOOL by PROFILE, then becomes it: the arguments, environment, standard
// streams, process id, exit status and signals are TOOL's own, except that TMPDIR
// names the run's private temporary folder and TOOL holds no capability, even as
// root. It fails closed: when the confinement cannot be set up whole, it prints one
// line on standard error, exits with status 71 and never starts TOOL.

#include "harness/SandboxPolicy.h"
#include "sandbox/Landlock.h"
#include "sandbox/LaunchError.h"
#include "sandbox/PrivateMounts.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int refused = 71; // EX_OSERR

int refuse(const std::string& reason) {
    std::fprintf(stderr, "marrowbell-sandbox: %s\n", reason.c_str());
    return refused;
}

} // namespace

int main(int argc, char** argv) {
    using namespace marrowbell;
    if (argc < 4 || std::strcmp(argv[1], "-p") != 0)
        return refuse("usage: marrowbell-sandbox -p PROFILE TOOL [ARG…]");

    SandboxPolicy policy;
    try {
        policy = SandboxPolicy::parse(argv[2]);
    } catch (const SandboxPolicyError& error) {
        return refuse(std::string("the profile does not parse: ") + error.what());
    }

    try {
        int abi = sandbox::landlockAbi();
        std::vector<std::string> temporaryFolders(
            std::begin(SandboxPolicy::privateTemporaryFolders),
            std::end(SandboxPolicy::privateTemporaryFolders));
        sandbox::confineMounts(policy.unreadableSubpaths, policy.writableSubpaths,
                               temporaryFolders);
        // Regular-expression rules have no Landlock counterpart and are not enforced:
        // the paths they name (a tool's scratch folders) lie in the temporary folder,
        // which is the run's own and writable.
        sandbox::restrictSelf(abi, policy.writableSubpaths, policy.writableLiterals);
        sandbox::dropAllCapabilities();
        if (::setenv("TMPDIR", temporaryFolders.front().c_str(), 1) != 0)
            throw sandbox::LaunchError::system("cannot name the temporary folder", errno);
    } catch (const sandbox::LaunchError& error) {
        return refuse(error.what());
    } catch (const std::exception& error) {
        return refuse(error.what());
    }

    ::execvp(argv[3], argv + 3);
    return refuse(std::string("cannot run ") + argv[3] + ": " + std::strerror(errno));
}
