#!/usr/bin/env python3
"""Runs the four real harness tools as Marrowbell jobs against our fake model server.

usage: real_tools.py BUILD_DIR [FILTER]

Installs the pinned tools from npm into BUILD_DIR/harness-tools (once per version),
then, inside a network namespace that has nothing but loopback, runs every tool
against every endpoint kind it can speak: a text answer, a refused key (for the
kinds that carry one) and a scoped write. Each case is a real `marrowbellctl run`
with a private HOME and data folder. When npm cannot be reached the suite says so
and exits 0 with SKIPPED; any failed case exits 1.
"""

import concurrent.futures
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import fake_model_server as fake  # noqa: E402

PINNED = {
    "claude": ("@anthropic-ai/claude-code", "2.1.197"),
    "codex": ("@openai/codex", "0.171.0"),
    "opencode": ("opencode-ai", "1.18.33"),
    "pi": ("@mariozechner/pi-coding-agent", "0.73.1"),
}

# The endpoint kinds each tool can be pointed at for one run.
KINDS = {
    "claude": ["anthropicCompatible"],
    "codex": ["lmStudio", "ollama", "openAICompatible"],
    "opencode": ["lmStudio", "ollama", "openAICompatible", "anthropicCompatible"],
    "pi": ["lmStudio", "ollama", "openAICompatible", "anthropicCompatible"],
}

TIME_LIMIT = 420  # seconds per run: opencode starts slowly on a busy machine


def install(tools_dir):
    """True when the pinned tools are in place; False when npm could not fetch them."""
    stamp = os.path.join(tools_dir, "pinned.json")
    wanted = json.dumps(PINNED, sort_keys=True)
    if os.path.exists(stamp) and open(stamp).read() == wanted:
        return True
    os.makedirs(tools_dir, exist_ok=True)
    specs = ["%s@%s" % package for package in PINNED.values()]
    result = subprocess.run(["npm", "install", "--no-audit", "--no-fund", "--prefix", tools_dir]
                            + specs, capture_output=True, text=True)
    if result.returncode != 0:
        sys.stderr.write(result.stderr[-2000:])
        return False
    for tool in PINNED:
        if subprocess.run([os.path.join(tools_dir, "node_modules", ".bin", tool), "--version"],
                          capture_output=True).returncode != 0:
            sys.stderr.write("%s was installed but does not run\n" % tool)
            return False
    open(stamp, "w").write(wanted)
    return True


def base_url(port, kind):
    if kind == "anthropicCompatible":
        return "http://127.0.0.1:%d" % port
    return "http://127.0.0.1:%d/v1" % port


class Case:
    def __init__(self, tool, kind, scenario):
        self.tool, self.kind, self.scenario = tool, kind, scenario

    @property
    def name(self):
        return "%s × %s × %s" % (self.tool, self.kind, self.scenario)


def cases(tool_filter):
    for tool, kinds in KINDS.items():
        if tool_filter and tool_filter not in tool:
            continue
        for kind in kinds:
            yield Case(tool, kind, "text")
            if kind in ("openAICompatible", "anthropicCompatible"):
                yield Case(tool, kind, "refused key")
            yield Case(tool, kind, "scoped write")


def run_case(case, ctl, tools_bin, port):
    """None when the case passed, else what went wrong."""
    with tempfile.TemporaryDirectory(prefix="marrowbell-harness-") as root:
        home = os.path.join(root, "home")
        folder = os.path.join(root, "project")
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
        if write:  # a repository: the run must leave the checkout alone and make a branch
            for arguments in (["init", "-q", "-b", "main"], ["add", "-A"],
                              ["-c", "user.name=T", "-c", "user.email=t@t", "commit", "-q",
                               "-m", "start"]):
                subprocess.run(["git", "-C", folder, *arguments], check=True, env=env)

        def ctl_run(*arguments, stdin=None, timeout=60):
            return subprocess.run([ctl, *arguments], input=stdin, capture_output=True, text=True,
                                  env=env, timeout=timeout)

        steps = [ctl_run("endpoints", "add", "Fake", base_url(port, case.kind), case.kind)]
        if case.kind in ("openAICompatible", "anthropicCompatible"):
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
                return "setup failed: %s" % (step.stderr.strip() or step.stdout.strip())
        run = ctl_run("run", "Case", timeout=TIME_LIMIT + 60)
        runs = json.loads(ctl_run("runs", "--json").stdout or "[]")
        record = runs[0] if isinstance(runs, list) and runs else {}
        transcript = "exit %d; record %s\n%s\n%s" % (run.returncode, json.dumps(record),
                                                    run.stdout[-3000:], run.stderr[-1500:])
        if case.scenario == "refused key":
            if run.returncode == 0 or not record.get("failureMessage"):
                return "a refused key was reported as success: " + transcript
            return None
        if run.returncode != 0:
            return "the run failed: " + transcript
        if write:
            if os.path.exists(os.path.join(folder, fake.WRITTEN_FILE)):
                return "the run wrote into the checkout: " + transcript
            branches = subprocess.run(["git", "-C", folder, "branch", "--list", "marrowbell/*",
                                       "--format=%(refname:short)"], capture_output=True,
                                      text=True, env=env).stdout.split()
            shown = subprocess.run(["git", "-C", folder, "show",
                                    "%s:%s" % (branches[0] if branches else "none",
                                               fake.WRITTEN_FILE)],
                                   capture_output=True, text=True, env=env).stdout
            if shown != fake.WRITTEN_TEXT or (branches and branches[0] not in transcript):
                return "the model's file is not on a branch named in the record: " + transcript
        elif fake.TEXT_ANSWER not in (record.get("resultText") or ""):
            return "the answer is not the record's result: " + transcript
        return None


def inside_namespace(build_dir, tool_filter):
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    log = os.path.join(build_dir, "harness-tests-requests.jsonl")
    if os.path.exists(log):
        os.remove(log)
    server = subprocess.Popen([sys.executable, fake.__file__, "--log", log],
                              stdout=subprocess.PIPE, text=True)
    try:
        port = int(server.stdout.readline().split()[1])
        ctl = os.path.join(build_dir, "bin", "marrowbellctl")
        tools_bin = os.path.join(build_dir, "harness-tools", "node_modules", ".bin")
        chosen = list(cases(tool_filter))
        failures = []
        started = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(max_workers=4) as pool:
            futures = {pool.submit(run_case, case, ctl, tools_bin, port): case for case in chosen}
            for future in concurrent.futures.as_completed(futures):
                case = futures[future]
                try:
                    problem = future.result()
                except Exception as error:  # a hung step, a missing file
                    problem = "%s: %s" % (type(error).__name__, error)
                print(("FAIL  %s — %s" % (case.name, problem)) if problem else ("ok    " + case.name),
                      flush=True)
                if problem:
                    failures.append(case.name)
        print("%d of %d real-tool cases passed in %.0f s" % (
            len(chosen) - len(failures), len(chosen), time.monotonic() - started))
        return 1 if failures or not chosen else 0
    finally:
        server.terminate()
        server.wait()


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--inside":
        return inside_namespace(sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else "")
    build_dir = os.path.abspath(sys.argv[1])
    tool_filter = sys.argv[2] if len(sys.argv) > 2 else ""
    if not shutil.which("npm") or not install(os.path.join(build_dir, "harness-tools")):
        print("SKIPPED: the npm registry could not be reached, so the real harness tools "
              "were not installed and none of them was run.", flush=True)
        return 0
    # Loopback only: the tools reach nothing but the fake server, and fail fast at it.
    unshare = ["unshare", "-n"] if os.geteuid() == 0 else ["unshare", "-rn"]
    return subprocess.run(unshare + [sys.executable, os.path.abspath(__file__), "--inside",
                                     build_dir, tool_filter]).returncode


if __name__ == "__main__":
    sys.exit(main())
