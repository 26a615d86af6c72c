#!/usr/bin/env python3
"""Runs the examples of docs/language.md through ruvalda-cli and checks what the text claims.

usage: language_examples_test.py RUVALDA_CLI SOURCE_DIR

Every docs/examples/NAME.rvc has a companion NAME.expect. Each "run" or "check" line of it is
one case: ruvalda-cli run (or check) NAME.rvc with the rest of the line as arguments, in a
fresh copy of docs/examples (runs write beside the control file, and an adjust file is removed
when it is read). The lines after it say what the case must give:

    exit N          the exit status (0 when not given)
    dump TEXT       the --dump line of the variable that TEXT names: TEXT as "G01<1>" must
                    match up to its ">", TEXT as "G01<1> (2.1)" the whole line
    absent NAME     the dump has no variable NAME
    stdout TEXT     standard output holds TEXT ("\\t" stands for a tab)
    stderr TEXT     standard error holds TEXT
    file PATH TEXT  the file PATH, relative to the copy, holds TEXT
    nofile PATH     there is no file PATH after the case

"--dump" is added to a run that has dump or absent lines. Lines starting with "#" and blank
lines are passed over.

The test also checks that docs/language.md names every example as examples/NAME.rvc, and that
every fenced block of docs/language.md whose first line is "# FILE..." for a file FILE of
docs/examples is that file, word for word, so the quoted examples cannot drift from the tested
ones.
"""

import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

DUMP_LINE = re.compile(r"^([A-Z0-9]+)<-?\d+S?E?> \(\d+\.\d\)$")
EXPECTATIONS = ("exit", "dump", "absent", "stdout", "stderr", "file", "nofile")


class Case:
    def __init__(self, example, command, args, line):
        self.example = example
        self.command = command
        self.args = args
        self.line = line  # where in the .expect file
        self.expected = []  # (keyword, argument, line)

    def title(self):
        return "%s.expect(%d): %s %s.rvc %s" % (
            self.example, self.line, self.command, self.example, " ".join(self.args))


def read_expect(path, example, problems):
    cases = []
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            keyword, _, rest = line.strip().partition(" ")
            if keyword in ("run", "check"):
                cases.append(Case(example, keyword, shlex.split(rest), number))
            elif keyword in EXPECTATIONS and cases:
                cases[-1].expected.append((keyword, rest.strip(), number))
            else:
                problems.append("%s(%d): not an expectation: %r" % (path, number, line))
    if not cases:
        problems.append("%s: no run or check line" % path)
    return cases


def dump_of(stdout):
    dump = {}
    for line in stdout.splitlines():
        m = DUMP_LINE.match(line)
        if m:
            dump[m.group(1)] = line
    return dump


def unescape(text):
    return text.replace("\\t", "\t")


def run_case(cli, examples_dir, work_root, case, index):
    work = os.path.join(work_root, "case%d" % index)
    shutil.copytree(examples_dir, work)
    args = list(case.args)
    wants_dump = any(k in ("dump", "absent") for k, _, _ in case.expected)
    if case.command == "run" and wants_dump and "--dump" not in args:
        args.append("--dump")
    command = [cli, case.command, case.example + ".rvc"] + args
    try:
        done = subprocess.run(command, cwd=work, capture_output=True, text=True,
                              errors="replace", timeout=120)
    except subprocess.TimeoutExpired:
        return ["%s: did not end within 120 s" % case.title()]
    failures = []

    def fail(line, message):
        failures.append("%s\n  line %d: %s" % (case.title(), line, message))

    wanted_exit = 0
    for keyword, argument, line in case.expected:
        if keyword == "exit":
            wanted_exit = int(argument)
    dump = dump_of(done.stdout)
    for keyword, argument, line in case.expected:
        if keyword == "dump":
            name = argument.split("<", 1)[0]
            got = dump.get(name)
            if got is None:
                fail(line, "the dump has no variable %s (expected %s)" % (name, argument))
            elif (got if " (" in argument else got.split(" (", 1)[0]) != argument:
                fail(line, "%s is %s, expected %s" % (name, got, argument))
        elif keyword == "absent":
            if argument in dump:
                fail(line, "the dump has %s, expected no variable %s" % (dump[argument],
                                                                         argument))
        elif keyword in ("stdout", "stderr"):
            text = done.stdout if keyword == "stdout" else done.stderr
            if unescape(argument) not in text:
                fail(line, "%s does not hold %r" % (keyword, unescape(argument)))
        elif keyword == "file":
            path, _, text = argument.partition(" ")
            full = os.path.join(work, path)
            if not os.path.exists(full):
                fail(line, "no file %s" % path)
            else:
                with open(full, encoding="utf-8", errors="replace") as f:
                    if unescape(text) not in f.read():
                        fail(line, "%s does not hold %r" % (path, unescape(text)))
        elif keyword == "nofile":
            if os.path.exists(os.path.join(work, argument)):
                fail(line, "the file %s is still there" % argument)
    if done.returncode != wanted_exit:
        failures.append("%s\n  exit status %d, expected %d" % (case.title(), done.returncode,
                                                                wanted_exit))
    if failures:
        failures[-1] += "\n  stdout:\n%s\n  stderr:\n%s" % (
            indent(done.stdout), indent(done.stderr))
    return failures


def indent(text):
    lines = text.splitlines()
    if len(lines) > 40:
        lines = lines[:20] + ["    ..."] + lines[-20:]
    return "\n".join("    " + l for l in lines)


def fenced_blocks(markdown):
    """The fenced code blocks of a Markdown text, as their text, each line ended."""
    blocks, current = [], None
    for line in markdown.splitlines(keepends=True):
        if line.startswith("```"):
            if current is None:
                current = []
            else:
                blocks.append("".join(current))
                current = None
        elif current is not None:
            current.append(line)
    return blocks


def check_document(doc_path, examples_dir, examples, problems):
    with open(doc_path, encoding="utf-8") as f:
        doc = f.read()
    for example in examples:
        if "examples/%s.rvc" % example not in doc:
            problems.append("docs/language.md does not mention examples/%s.rvc" % example)
    files = set(os.listdir(examples_dir))
    for block in fenced_blocks(doc):
        m = re.match(r"# ([A-Za-z0-9_.-]+)", block)
        if not m or m.group(1).rstrip(":") not in files:
            continue
        name = m.group(1).rstrip(":")
        with open(os.path.join(examples_dir, name), encoding="utf-8", newline="") as f:
            text = f.read()
        if block != text:
            quoted, real = block.splitlines(), text.splitlines()
            at = next((i for i in range(min(len(quoted), len(real))) if quoted[i] != real[i]),
                      min(len(quoted), len(real)))
            problems.append(
                "docs/language.md quotes %s differently from docs/examples/%s, first at its "
                "line %d:\n  quoted: %r\n  file:   %r" % (
                    name, name, at + 1, quoted[at] if at < len(quoted) else "(end)",
                    real[at] if at < len(real) else "(end)"))


def main():
    if len(sys.argv) != 3:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    cli = os.path.abspath(sys.argv[1])
    source = os.path.abspath(sys.argv[2])
    examples_dir = os.path.join(source, "docs", "examples")
    doc_path = os.path.join(source, "docs", "language.md")
    problems = []
    examples = sorted(n[:-4] for n in os.listdir(examples_dir) if n.endswith(".rvc"))
    expects = sorted(n[:-7] for n in os.listdir(examples_dir) if n.endswith(".expect"))
    for name in sorted(set(examples) - set(expects)):
        problems.append("docs/examples/%s.rvc has no %s.expect" % (name, name))
    for name in sorted(set(expects) - set(examples)):
        problems.append("docs/examples/%s.expect has no %s.rvc" % (name, name))
    check_document(doc_path, examples_dir, examples, problems)

    cases = []
    for example in examples:
        path = os.path.join(examples_dir, example + ".expect")
        if os.path.exists(path):
            cases += read_expect(path, example, problems)
    with tempfile.TemporaryDirectory(prefix="ruvalda-language-") as work_root:
        for index, case in enumerate(cases):
            problems += run_case(cli, examples_dir, work_root, case, index)

    for problem in problems:
        print("FAIL " + problem, file=sys.stderr)
    if problems:
        print("%d of the documented examples' checks failed" % len(problems), file=sys.stderr)
        return 1
    print("%d examples, %d runs: all as docs/language.md says" % (len(examples), len(cases)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
