#!/usr/bin/env python3
"""Runs the four real harness tools as Marrowbell jobs against our fake model server.

usage: real_tools.py BUILD_DIR [TOOL]

Installs the tools pinned by package-lock.json beside this file into
BUILD_DIR/harness-tools (again only when the lock changes), then, inside a network
namespace that has nothing but loopback, runs each tool as a real `marrowbellctl run`
with a private HOME and data folder: a text answer for every endpoint kind the tool
can speak, a refused key for every kind that carries one, and one scoped write in a
git repository (its worktree, confinement and branch are the same whatever the
endpoint). When npm cannot be reached the suite says so and exits 0 with SKIPPED;
any failed case exits 1.
"""

import concurrent.futures
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # nothing written into the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import fake_model_server as fake  # noqa: E402

TOOLS = ["claude", "codex", "opencode", "pi"]

# The endpoint kinds each tool can be pointed at for one run.
KINDS = {
    "claude": ["anthropicCompatible"],
    "codex": ["lmStudio", "ollama", "openAICompatible"],
    "opencode": ["lmStudio", "ollama", "openAICompatible", "anthropicCompatible"],
    "pi": ["lmStudio", "ollama", "openAICompatible", "anthropicCompatible"],
}
KEYED = ("openAICompatible", "anthropicCompatible")


# A run's time limit: far above what any case needs even on a busy machine, so
# reaching it means a hang, reported as such instead of waiting long for it.
TIME_LIMIT = 180


def run_quietly(arguments, **options):
    return subprocess.run(arguments, capture_output=True, text=True, **options)


def npm_reachable():
    try:
        return run_quietly(["npm", "ping", "--fetch-timeout=20000", "--fetch-retries=1"],
                           timeout=60).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def install(tools_dir):
    """"cached" or "installed" when the pinned tools are in place, "unreachable" when
    npm could fetch them neither from the registry nor from its own cache; raises when
    npm reached the registry and still failed."""
    lock = open(os.path.join(HERE, "package-lock.json"), "rb").read()
    manifest = open(os.path.join(HERE, "package.json"), "rb").read()
    wanted = hashlib.sha256(manifest + lock).hexdigest()
    stamp = os.path.join(tools_dir, "installed-lock.sha256")
    if os.path.exists(stamp) and open(stamp).read() == wanted:
        return "cached"
    reachable = npm_reachable()
    shutil.rmtree(tools_dir, ignore_errors=True)
    os.makedirs(tools_dir)
    for name, content in (("package.json", manifest), ("package-lock.json", lock)):
        with open(os.path.join(tools_dir, name), "wb") as copy:
            copy.write(content)
    # install, not ci: the lock leaves out the platform packages no registry entry
    # lists, which ci takes for a lock out of date. Without the registry, npm's own
    # cache may still hold every package of the lock.
    result = run_quietly(["npm", "install", "--no-audit", "--no-fund",
                          "--prefer-offline" if reachable else "--offline",
                          "--prefix", tools_dir])
    if result.returncode != 0:
        if not reachable:
            return "unreachable"
        raise RuntimeError("npm install failed:\n" + result.stderr[-3000:])
    for tool in TOOLS:
        if run_quietly([os.path.join(tools_dir, "node_modules", ".bin", tool),
                        "--version"]).returncode != 0:
            raise RuntimeError("%s was installed but does not run" % tool)
    open(stamp, "w").write(wanted)
    return "installed"


def base_url(port, kind):
    if kind == "anthropicCompatible":
        return "http://127.0.0.1:%d" % port
    return "http://127.0.0.1:%d/v1" % port


def model_paths(kind):
    if kind == "anthropicCompatible":
        return ("/messages",)
    return ("/chat/completions", "/responses")


class Case:
    def __init__(self, tool, kind, scenario):
        self.tool, self.kind, self.scenario = tool, kind, scenario

    @property
    def name(self):
        return "%s × %s × %s" % (self.tool, self.kind, self.scenario)


def cases(tool_filter):
    chosen = []
    for tool, kinds in KINDS.items():
        if tool_filter and tool_filter != tool:
            continue
        chosen += [Case(tool, kind, "text") for kind in kinds]
        chosen += [Case(tool, kind, "refused key") for kind in kinds if kind in KEYED]
        chosen.append(Case(tool, next(k for k in kinds if k in KEYED), "scoped write"))
    # opencode's cases cost most: they start first, so the pool ends together.
    return sorted(chosen, key=lambda case: case.tool != "opencode")


def measured(arguments, env, stdin, timeout):
    """(exit status, standard output, standard error, CPU seconds of the process and
    everything it waited for)."""
    process = subprocess.Popen(arguments, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True, env=env)
    output = {}
    readers = [threading.Thread(target=lambda n=n, s=s: output.__setitem__(n, s.read()))
               for n, s in (("out", process.stdout), ("err", process.stderr))]
    for reader in readers:
        reader.start()
    process.stdin.write(stdin or "")
    process.stdin.close()
    expired = threading.Event()
    timer = threading.Timer(timeout, lambda: (expired.set(), process.kill()))
    timer.start()
    try:
        _, status, usage = os.wait4(process.pid, 0)
    finally:
        timer.cancel()
    process.returncode = os.waitstatus_to_exitcode(status)
    for reader in readers:
        reader.join()
    if expired.is_set():
        raise TimeoutError("%s did not end within %d s" % (" ".join(arguments[1:]), timeout))
    return process.returncode, output["out"], output["err"], usage.ru_utime + usage.ru_stime


def tree_of(folder):
    """Every file of a checkout but its git folder, with its bytes."""
    files = {}
    for directory, folders, names in os.walk(folder):
        folders[:] = [f for f in folders if f != ".git"]
        for name in names:
            path = os.path.join(directory, name)
            files[os.path.relpath(path, folder)] = open(path, "rb").read()
    return files


def run_case(case, ctl, tools_bin, scratch):
    """(problem or None, CPU seconds of the run)."""
    # The home lies in the build folder, not in /tmp: a confined run gets a /tmp of its
    # own and could not see the tool linked into it. The project lies in the temporary
    # folder, where no repository encloses it (a folder in the build tree would be part
    # of Marrowbell's own checkout, and opencode and Claude Code would work on that).
    with tempfile.TemporaryDirectory(prefix="case-", dir=scratch) as root, \
            tempfile.TemporaryDirectory(prefix="marrowbell-harness-") as project_root:
        home = os.path.join(root, "home")
        folder = os.path.join(project_root, "project")
        os.makedirs(os.path.join(home, ".local", "bin"))
        os.makedirs(folder)
        with open(os.path.join(folder, "README.md"), "w") as readme:
            readme.write("A project.\n")
        os.symlink(os.path.join(tools_bin, case.tool), os.path.join(home, ".local", "bin", case.tool))
        env = {"PATH": "/usr/local/bin:/usr/bin:/bin", "HOME": home, "LANG": "C.UTF-8",
               "USER": os.environ.get("USER", "root"), "TMPDIR": os.path.join(root, "tmp"),
               "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
               "XDG_CACHE_HOME": os.path.join(home, ".cache"),
               "XDG_CONFIG_HOME": os.path.join(home, ".config")}
        os.makedirs(env["TMPDIR"])
        write = case.scenario == "scoped write"
        if write:  # a repository with an uncommitted change the run must neither see nor touch
            for arguments in (["init", "-q", "-b", "main"], ["add", "-A"],
                              ["-c", "user.name=T", "-c", "user.email=t@t", "commit", "-q",
                               "-m", "start"]):
                subprocess.run(["git", "-C", folder, *arguments], check=True, env=env)
            with open(os.path.join(folder, "README.md"), "a") as readme:
                readme.write("Not committed yet.\n")
        checkout = tree_of(folder)

        def git(*arguments):
            return run_quietly(["git", "-C", folder, *arguments], env=env).stdout

        cpu = [0.0]

        def ctl_run(*arguments, stdin=None, timeout=60):
            status, out, err, used = measured([ctl, *arguments], env, stdin, timeout)
            cpu[0] += used
            return subprocess.CompletedProcess(arguments, status, out, err)

        log = os.path.join(root, "requests.jsonl")
        server = fake.start(log)
        try:
            steps = [ctl_run("endpoints", "add", "Fake", base_url(server.server_address[1],
                                                                  case.kind), case.kind)]
            if case.kind in KEYED:
                key = fake.REFUSED_KEY if case.scenario == "refused key" else "sk-fake-accepted-1234"
                steps.append(ctl_run("endpoints", "set-key", "Fake", stdin=key + "\n"))
            prompt = "Please %s the file." % fake.WRITE_MARKER if write else "Say hello."
            steps.append(ctl_run("add", "Case", "--folder", folder, "--harness", case.tool,
                                 "--schedule", "0 9 * * 1", "--model", "fake-model",
                                 "--endpoint", "Fake", "--timeout", str(TIME_LIMIT),
                                 "--permission", "scopedWrite" if write else "readOnly",
                                 stdin=prompt))
            for step in steps:
                if step.returncode != 0:
                    return "setup failed: %s" % (step.stderr.strip() or step.stdout.strip()), cpu[0]
            run = ctl_run("run", "Case", timeout=TIME_LIMIT + 60)
            status, out, err = run.returncode, run.stdout, run.stderr
        finally:
            server.shutdown()
            server.server_close()
        runs = json.loads(ctl_run("runs", "--json").stdout or "[]")
        record = runs[0] if isinstance(runs, list) and runs else {}
        requests = [json.loads(line) for line in open(log)] if os.path.exists(log) else []
        model_requests = [r for r in requests if r["method"] == "POST" and
                          r["path"].split("?")[0].endswith(model_paths(case.kind))]
        transcript = "exit %d; record %s\nrequests %s\n%s\n%s" % (
            status, json.dumps(record), [(r["method"], r["path"], r["key"]) for r in requests],
            out[-3000:], err[-1500:])

        def problem():
            if not model_requests:
                return "the tool never asked the endpoint's model"
            keys = {r["key"] for r in model_requests}
            if case.scenario == "refused key":
                if keys != {"refused"}:
                    return "the refused key did not reach the endpoint alone"
                if status == 0 or record.get("succeeded") or not record.get("failureMessage"):
                    return "a refused key was reported as success"
                return None
            if case.kind in KEYED and keys != {"given"}:
                return "the endpoint's key did not go with every request"
            if status != 0 or not record.get("succeeded"):
                return "the run failed"
            if not write:
                if fake.TEXT_ANSWER not in (record.get("resultText") or ""):
                    return "the answer is not the record's result"
                return None
            if tree_of(folder) != checkout or git("rev-parse", "--abbrev-ref", "HEAD") != "main\n":
                return "the checkout changed"
            branches = git("branch", "--list", "marrowbell/*", "--format=%(refname:short)").split()
            if len(branches) != 1 or branches[0] not in (record.get("summary") or ""):
                return "no single branch named in the record: %s" % branches
            if git("show", "%s:%s" % (branches[0], fake.WRITTEN_FILE)) != fake.WRITTEN_TEXT:
                return "the model's file is not on the branch"
            if git("worktree", "list", "--porcelain").count("worktree ") != 1:
                return "the run's worktree was left behind"
            return None

        found = problem()
        return (found + ": " + transcript if found else None), cpu[0]


def inside_namespace(build_dir, tool_filter):
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    ctl = os.path.join(build_dir, "bin", "marrowbellctl")
    tools_bin = os.path.join(build_dir, "harness-tools", "node_modules", ".bin")
    scratch = os.path.join(build_dir, "harness-scratch")
    os.makedirs(scratch, exist_ok=True)
    chosen = cases(tool_filter)
    failures, total_cpu = [], 0.0
    started = time.monotonic()
    # The tools spend much of their start waiting on disk and on each other's CPU;
    # twice as many runs as cores keeps both cores busy.
    workers = min(len(chosen) or 1, 2 * (os.cpu_count() or 2))
    with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
        futures = {}
        for case in chosen:
            futures[pool.submit(lambda c=case: (time.monotonic(),) +
                                run_case(c, ctl, tools_bin, scratch) + (time.monotonic(),))] = case
        for future in concurrent.futures.as_completed(futures):
            case = futures[future]
            cpu = elapsed = 0.0
            try:
                begun, problem, cpu, ended = future.result()
                elapsed = ended - begun
            except Exception as error:  # a hung step, a missing file
                problem = "%s: %s" % (type(error).__name__, error)
            total_cpu += cpu
            timing = "(%.0f s, %.0f s CPU)" % (elapsed, cpu)
            print(("FAIL  %s %s — %s" % (case.name, timing, problem)) if problem
                  else ("ok    %s %s" % (case.name, timing)), flush=True)
            if problem:
                failures.append(case.name)
    shutil.rmtree(scratch, ignore_errors=True)
    print("%d of %d real-tool cases passed in %.0f s (%.0f s CPU in Marrowbell and the tools)" % (
        len(chosen) - len(failures), len(chosen), time.monotonic() - started, total_cpu))
    return 1 if failures or not chosen else 0


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--inside":
        return inside_namespace(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else "")
    if len(sys.argv) < 2 or (len(sys.argv) > 2 and sys.argv[2] not in TOOLS):
        sys.stderr.write("usage: real_tools.py BUILD_DIR [%s]\n" % "|".join(TOOLS))
        return 2
    build_dir = os.path.abspath(sys.argv[1])
    tool_filter = sys.argv[2] if len(sys.argv) > 2 else ""
    if not os.access(os.path.join(build_dir, "bin", "marrowbellctl"), os.X_OK):
        print("FAIL  %s holds no bin/marrowbellctl to run the tools with" % build_dir)
        return 1
    started = time.monotonic()
    if not shutil.which("npm"):
        print("SKIPPED: npm is not installed, so the real harness tools were not installed "
              "and none of them was run.", flush=True)
        return 0
    try:
        state = install(os.path.join(build_dir, "harness-tools"))
    except RuntimeError as error:
        print("FAIL  the real harness tools could not be installed: %s" % error, flush=True)
        return 1
    if state == "unreachable":
        print("SKIPPED: the npm registry could not be reached (nor were the pinned tools in "
              "npm's cache), so the real harness tools were not installed and none of them "
              "was run.", flush=True)
        return 0
    print("The pinned tools were %s in %.0f s." % (state, time.monotonic() - started), flush=True)
    # Loopback only: the tools reach nothing but the fake server, and fail fast at it.
    unshare = ["unshare", "-n"] if os.geteuid() == 0 else ["unshare", "-rn"]
    return subprocess.run(unshare + [sys.executable, os.path.abspath(__file__), "--inside",
                                     build_dir, tool_filter]).returncode


if __name__ == "__main__":
    sys.exit(main())
