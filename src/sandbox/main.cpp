// marrowbell-sandbox -p PROFILE TOOL [ARG…]
//
// Confines TOOL by PROFILE, then becomes it: the arguments, environment, standard
// streams, process id, exit status and signals are TOOL's own. It fails closed: when
// the confinement cannot be set up whole, it prints one line on standard error, exits
// with status 71 and never starts TOOL.

#include "harness/SandboxPolicy.h"
#include "sandbox/Landlock.h"
#include "sandbox/LaunchError.h"
#include "sandbox/PrivateMounts.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

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
        sandbox::coverUnreadable(policy.unreadableSubpaths);
        sandbox::dropConfinementCapabilities();
        // Regular-expression rules have no Landlock counterpart and are not enforced:
        // the paths they name (a tool's scratch folders) lie in the temporary folder,
        // which every profile makes writable.
        sandbox::restrictWrites(abi, policy.writableSubpaths, policy.writableLiterals);
    } catch (const sandbox::LaunchError& error) {
        return refuse(error.what());
    } catch (const std::exception& error) {
        return refuse(error.what());
    }

    ::execvp(argv[3], argv + 3);
    return refuse(std::string("cannot run ") + argv[3] + ": " + std::strerror(errno));
}
