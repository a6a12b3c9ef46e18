#!/usr/bin/env python3
"""Checks the help and the READMEs against the program.

  help_texts_test.py SOURCE_DIR [--run WINE SCRATCH_DIR]

- Every program text the help quotes (elements of class "msg", "box" and
  "caution") and every sentence the READMEs quote in double quotes is a text
  the program shows: one of ui/Texts.cpp or of the resource script.
  The system's own texts are marked class "sys" in the help and are not
  checked; the READMEs (docs/*.md too) may quote those too.
- Every time in minutes given for the update is the one the program's own
  message names. A measured duration written "4 min 40 s" is not such a
  figure.
- Every "reg" command names the program's registry key, value and marker
  and the 64-bit view (/reg:64), the one the 64-bit program uses; one that
  writes is said to need a Command Prompt started as administrator.
- Every link of the help, of its contents and index and of README.md into
  help/ leads to a file of the help project and to an anchor in it, and the
  project lists every topic in help/.

With --run it runs the commands they give instead: each "reg" line under WINE
(prefix in SCRATCH_DIR), "sha256sum -c", run-on-linux.sh --help (every option
shown must be one it takes and tests/dist/linux_*_test.sh use); it lists those
that cannot run here.

Each problem is printed with its file and line; the exit status is 1 if
there is any.
"""

import glob
import html
import html.parser
import os
import re
import shlex
import subprocess
import sys

SOURCE = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
HELP = os.path.join(SOURCE, "help")
PROJECT = os.path.join(HELP, "QV6100_UPDATE.hhp")
READMES = ["README.md", os.path.join("installer", "README.txt.in")] + sorted(
    os.path.relpath(p, SOURCE) for p in glob.glob(os.path.join(SOURCE, "docs", "*.md")))
QUOTED_CLASSES = {"msg", "box", "caution"}
VOID = {"br", "img", "meta", "link", "hr", "input", "param"}

problems = []


def problem(path, line, text):
    problems.append("%s:%d: %s" % (os.path.relpath(path, SOURCE), line, text))


def read(path):
    with open(path, encoding="latin-1") as f:
        return f.read()


def normal(text):
    return " ".join(text.replace("\xa0", " ").split())


# ---- The program's texts -------------------------------------------------------

C_STRING = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
C_ESCAPES = {"n": "\n", "t": "\t", '"': '"', "\\": "\\", "'": "'"}


def c_unescape(s):
    return re.sub(r"\\(.)", lambda m: C_ESCAPES.get(m.group(1), m.group(1)), s)


def program_texts():
    texts = []
    # Texts.cpp: one text per definition, its adjacent literals joined.
    for definition in read(os.path.join(SOURCE, "ui", "Texts.cpp")).split(";"):
        parts = C_STRING.findall(definition)
        if parts:
            texts.append("".join(c_unescape(p) for p in parts))
    # The resource script: every string but the includes; "&" marks a mnemonic.
    for line in read(os.path.join(SOURCE, "ui", "QV6100_UPDATE.rc")).splitlines():
        if not line.lstrip().startswith("#"):
            texts += [s.replace("&", "") for s in C_STRING.findall(line)]
    return [normal(t) for t in texts if t.strip()]


def registry():
    """The program's key, value name and marker."""
    cpp = read(os.path.join(SOURCE, "update", "Registry.cpp"))
    h = read(os.path.join(SOURCE, "update", "Registry.h"))
    key = re.search(r'kMarkerKey\[\] = "([^"]+)"', cpp)
    value = re.search(r'kMarkerValue\[\] = "([^"]+)"', cpp)
    marker = re.search(r"DETECTED_MARKER = (\d+)", h)
    if not (key and value and marker):
        raise SystemExit("help_texts_test: update/Registry.cpp or .h no longer define kMarkerKey, kMarkerValue "
                         "and DETECTED_MARKER as this check reads them")
    return c_unescape(key.group(1)), value.group(1), marker.group(1)


# ---- Reading the help ------------------------------------------------------------


class Page(html.parser.HTMLParser):
    """The quoted program texts, the links and the anchors of one page."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.quotes = []  # (line, text)
        self.links = []  # (line, href)
        self.anchors = set()
        self._open = []  # [tag, capturing]
        self._capture = None  # [line, pieces] of the quote being read

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        line = self.getpos()[0]
        if a.get("name") and tag == "a" or a.get("id"):
            self.anchors.add(a.get("name") or a.get("id"))
        if tag == "a" and a.get("href"):
            self.links.append((line, a["href"]))
        if tag == "param" and (a.get("name") or "").lower() == "local":
            self.links.append((line, a.get("value", "")))
        if tag in VOID:
            if self._capture:
                self._capture[1].append(" ")
            return
        starts = self._capture is None and bool(QUOTED_CLASSES & set((a.get("class") or "").split()))
        if starts:
            self._capture = [line, []]
        elif self._capture:
            self._capture[1].append(" ")
        self._open.append([tag, starts])

    def handle_endtag(self, tag):
        while self._open:
            name, started = self._open.pop()
            if started:
                self.quotes.append((self._capture[0], normal("".join(self._capture[1]))))
                self._capture = None
            if name == tag:
                break

    def handle_data(self, data):
        if self._capture:
            self._capture[1].append(data)


def parse(path):
    page = Page()
    page.feed(read(path))
    page.close()
    return page


def project_files():
    """The help project's [FILES], and its contents, index and default topic."""
    files, others, section = [], [], ""
    for line in read(PROJECT).splitlines():
        line = line.strip()
        if not line or line.startswith(";"):
            continue
        if re.fullmatch(r"\[\w+\]", line):
            section = line
        elif section == "[FILES]":
            files.append(line)
        elif section == "[OPTIONS]":
            m = re.match(r"(Contents file|Index file|Default topic)=(.+)", line)
            if m:
                others.append(m.group(2))
    return files, others


# ---- The checks -----------------------------------------------------------------

NUMBER = {w: i for i, w in enumerate("zero one two three four five six seven eight nine ten eleven twelve".split())}
NUM = r"(\d+|%s)" % "|".join(NUMBER)
# "7 minutes", "5 to 7 minutes", "seven-minute", "7 min"; not "4 min 40 s".
MINUTES = re.compile(NUM + r"(?:\s*(?:to|-|\u2013)\s*" + NUM + r")?[\s-]*(?:minutes?|min)\b(?!\s*\d+\s*s\b)",
                     re.IGNORECASE)


def number(word):
    return int(word) if word.isdigit() else NUMBER[word.lower()]


def check_minutes(path, text, expected):
    for m in MINUTES.finditer(text):
        for n in filter(None, m.groups()):
            if number(n) != expected:
                problem(path, text.count("\n", 0, m.start()) + 1,
                        "'%s': the program's message says about %d minutes" % (" ".join(m.group(0).split()), expected))


def without_tags(text):
    """A page's text as it reads, on the lines of its source."""
    # A heading starts a section ("\f"): see check_reg.
    return html.unescape(re.sub(r"<(h\d)?[^>]*>", lambda m: "\f"[: bool(m.group(1))] + "\n" * m.group(0).count("\n"),
                                text)).replace("\xa0", " ")


REG = re.compile(r'\breg (?:add|delete|query) "(?:HKLM|HKEY_LOCAL_MACHINE)\\([^"]*)"([^\n<`]*)', re.IGNORECASE)
SECTION = {".htm": r"\f", ".md": r"\n#+ ", ".in": r"\n\s*\n"}  # what starts a section (.in: a paragraph)


def check_reg(path, text, reg):
    key, value, marker = reg
    for m in REG.finditer(text):
        starts = [s.end() for s in re.finditer(SECTION.get(os.path.splitext(path)[1], "\f"), text[: m.start()])]
        section = normal(text[(starts or [0])[-1] : m.start()])
        line = text.count("\n", 0, m.start()) + 1
        args = m.group(2).split()
        wrong = []
        if m.group(1) != key:
            wrong.append("the key is %s" % key)
        if "/reg:64" not in args:
            wrong.append("/reg:64 is missing")
        if "/v" in args and args[args.index("/v") + 1 :][:1] != [value]:
            wrong.append("the value is %s" % value)
        if "/d" in args and args[args.index("/d") + 1 :][:1] != [marker]:
            wrong.append("the marker is %s" % marker)
        if not re.match(r"reg query", m.group(0), re.I) and not re.search(
                r"Command Prompt.{0,60}?administrator", section, re.I):
            wrong.append("its section does not say to enter it in a Command Prompt started as administrator")
        if wrong:
            problem(path, line, "'%s': %s" % (m.group(0).strip(), "; ".join(wrong)))


def check_quote(path, line, quote, texts):
    if quote and not any(quote in t for t in texts):
        problem(path, line, "quotes \"%s\", which the program never shows" % quote)


def readme_lines(path):
    """A README's lines without code blocks and code spans (left empty)."""
    lines, fenced = [], False
    for line in read(path).splitlines():
        fence = line.lstrip().startswith("```")
        fenced ^= fence
        lines.append("" if fenced or fence else re.sub(r"`[^`]*`", "", line))
    return lines


def main():
    texts = program_texts()
    figures = {int(m) for t in texts for m in re.findall(r"about (\d+) minutes", t)}
    if len(figures) != 1:
        print("help_texts_test: the program's texts name %s time(s) 'about N minutes', not one" % len(figures))
        return 1
    expected = figures.pop()
    reg = registry()

    files, others = project_files()
    pages = {}
    for name in sorted(set(os.listdir(HELP))):
        if name.endswith((".htm", ".hhc", ".hhk")):
            pages[name] = parse(os.path.join(HELP, name))
            if name.endswith(".htm") and name not in files:
                problem(PROJECT, 1, "[FILES] does not list %s" % name)
    for name in files + others:
        if not os.path.exists(os.path.join(HELP, name)):
            problem(PROJECT, 1, "names %s, which is not in help/" % name)

    def check_link(path, line, href, here):
        if re.match(r"[a-z]+:", href):
            return
        target, _, anchor = href.partition("#")
        target = target or here
        if target not in files:
            problem(path, line, "link to %s, which is not a file of the help" % href)
        elif anchor and (target not in pages or anchor not in pages[target].anchors):
            problem(path, line, "link to %s: %s has no anchor '%s'" % (href, target, anchor))

    for name, page in pages.items():
        path = os.path.join(HELP, name)
        for line, quote in page.quotes:
            check_quote(path, line, quote, texts)
        for line, href in page.links:
            check_link(path, line, href, name)
        source = read(path)
        check_minutes(path, without_tags(source) if name.endswith(".htm") else source, expected)
        check_reg(path, without_tags(source), reg)

    system = [normal(without_tags(t)) for n in pages for t in re.findall('"sys">(.*?)</', read(HELP + "/" + n), re.S)]
    for readme in READMES:
        path = os.path.join(SOURCE, readme)
        lines = readme_lines(path)
        for line, text in enumerate(lines, 1):
            for quote in re.findall(r'"([A-Z][^"]*?[.!])"', text):
                check_quote(path, line, normal(re.sub(r" \.\.\.$", "", quote)), texts + system)
            for href in re.findall(r"\]\((?:\.\./)?help/([^)]+)\)", text):
                check_link(path, line, href, "")
        check_minutes(path, "\n".join(lines), expected)
        check_reg(path, read(path), reg)

    for p in problems:
        print(p)
    print("help_texts_test: %d problem(s); %d program texts, %d help files, the program's time: about %d minutes"
          % (len(problems), len(texts), len(pages), expected))
    return 1 if problems else 0


# ---- --run: the commands themselves ------------------------------------------------

START = (r"(?:sudo |echo 1 \| sudo )?(?:reg|\S*run-on-linux\.sh|sha256sum|certutil|Get-\w+|mode COM\S*|setserial|"
         r"usermod|apt-get|systemctl|wine|osslsigncode) +\S")
KINDS = [(r"reg (add|query|delete) |\S*run-on-linux\.sh\b|sha256sum ", ""), (r"osslsigncode ", "needs a signature"),
         (r"ls ", "lists this machine's devices"),
         (r".*\bsudo ", "changes this machine as root"), (r'certutil|mode|Get-|cmd |\S*\.exe\b|"?C:', "Windows only"),
         (r"wine ", "starts a Windows program; the GUI and dist tests start the program and the installer"),
         (r"", "building, testing, the simulator: not a user's command")]


def commands():
    """(file, line, command): help "path" texts, README code (sh, bat, powershell blocks), zip README lines."""
    for rel in READMES + ["help/" + n for n in sorted(os.listdir(HELP)) if n.endswith(".htm")]:
        text, found, fenced, carry = read(os.path.join(SOURCE, rel)), [], False, ""
        for n, line in enumerate(text.splitlines(), 1):
            if rel.endswith(".in"):
                found += [(n, re.split(r"\s{2,}|[),]", line[m.start():])[0], 0)
                          for m in re.finditer(r"(?<![\w/.~-])" + START, line)]
            elif line.lstrip().startswith("```"):
                fenced = fenced is False and line.strip()[3:] in ("sh", "bash", "bat", "powershell")
            elif fenced and line.endswith("\\"):
                carry += line[:-1]
            elif fenced:
                found += [(n, c.strip(), 1) for c in re.split(r"\s+#\s", carry + line)[0].split(" && ") if c.strip()]
                carry = ""
            else:
                found += [(n, c, 0) for span in re.findall(r"`([^`]+)`", line) for c in span.split(" && ")]
        if rel.endswith(".htm"):
            found = [(text.count("\n", 0, m.start()) + 1, normal(without_tags(m.group(2))), 0)
                     for m in re.finditer(r'<(p|span) class="path">(.*?)</\1>', text, re.S)]
        command = START if rel.endswith(".in") else PROGRAM
        yield from ((os.path.join(SOURCE, rel), n, c) for n, c, block in found if block or re.match(command, c))


# A program and its first argument: a command, not a name mentioned.
PROGRAM = (r"(?:sudo|echo|reg|wine\w*|sha256sum|certutil|mode|setserial|usermod|apt-get|systemctl|osslsigncode|cmd|"
           r"powershell|ls|cmp|tee|cmake|ctest|python3|bash|Get-\w+|\S*/\S+|\S+\.(?:sh|exe|py)) +\S")


def held():
    """Where the documents hold a command, found apart from commands(): each
    line of a code block that a shell or a Command Prompt runs (whatever name
    its fence gives its language), each code span or help "path" text that
    starts with a program and an argument, and in the zip README each command
    START names."""
    shells = ("sh", "bash", "shell", "console", "bat", "cmd", "powershell", "ps1", "pwsh")
    lines = set()
    for rel in READMES + ["help/" + n for n in sorted(os.listdir(HELP)) if n.endswith(".htm")]:
        path, text = os.path.join(SOURCE, rel), read(os.path.join(SOURCE, rel))
        if rel.endswith(".htm"):
            lines |= {(path, text.count("\n", 0, m.start()) + 1)
                      for m in re.finditer(r'class="path">(.*?)</', text, re.S)
                      if re.match(PROGRAM, normal(without_tags(m.group(1))))}
            continue
        fence = None
        for n, line in enumerate(text.splitlines(), 1):
            if line.lstrip().startswith("```"):
                fence = line.strip()[3:].lower() if fence is None else None
            elif fence in shells and line.strip() and not line.lstrip().startswith(("#", "rem ", "REM ")):
                if not line.endswith("\\"):
                    lines.add((path, n))
            elif fence is None and rel.endswith(".in"):
                # A command ends at two spaces, as in a listing of names.
                starts = re.finditer(r"(?<![\w/.~-])" + START, line)
                if any(re.match(START, re.split(r"\s{2,}", line[m.start():])[0]) for m in starts):
                    lines.add((path, n))
            elif fence is None and any(re.match(PROGRAM, c) for c in re.findall(r"`([^`]+)`", line)):
                lines.add((path, n))
    return lines


def run_sums(cmd, where, d):
    """A "sha256sum -c" line on sums written as scripts/package.sh writes them, then with a file spoilt."""
    names = ["QV6100_UPDATE-setup.exe", "QV6100_UPDATE-portable.zip"]
    os.makedirs(d, exist_ok=True)
    for n in names + ["SHA256SUMS"]:  # the sums as scripts/package.sh writes them
        with open(os.path.join(d, n), "w") as f:
            subprocess.run(["sha256sum", "--"] + names, cwd=d, stdout=f) if n not in names else f.write(n)
    argv = [os.path.join(d, "SHA256SUMS") if a.endswith("SHA256SUMS") else a for a in shlex.split(cmd)]
    if "--ignore-missing" in argv:
        os.remove(os.path.join(d, names.pop()))
    for spoilt in (0, 1):
        with open(os.path.join(d, names[0]), "a") as f:
            f.write("x" * spoilt)
        r = subprocess.run(argv, cwd=d, capture_output=True, text=True, timeout=30)
        said = ["%s: %s" % (n, "OK FAILED".split()[spoilt and n == names[0]]) for n in names]
        if (r.returncode != 0) != spoilt or not all(t in r.stdout for t in said):
            problem(*where, "'%s'%s: exit %d, %r" % (cmd, " with a file spoilt" * spoilt, r.returncode, r.stdout))
    print("ran: %s" % cmd)


def run_reg(lines, wine, scratch, reg):
    """Each reg line under Wine, from the state the help uses it in; what it leaves, by reg query."""
    env = dict(os.environ, WINEPREFIX=os.path.join(scratch, "prefix"), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d")
    env.pop("DISPLAY", None)
    tool = lambda name: shlex.quote(os.path.join(os.path.dirname(wine), name))

    def sh(command):  # into a file: a Wine process left running must not hold a pipe of ours
        with open(os.path.join(scratch, "out.txt"), "w+") as out:
            rc = subprocess.run(["bash", "-c", command], env=env, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT, timeout=60).returncode
            return rc, out.seek(0) or " ".join(out.read().split())

    if not os.path.exists(os.path.join(env["WINEPREFIX"], "system.reg")):
        sh('rm -rf "$WINEPREFIX" && %s -i && %s -w' % (tool("wineboot"), tool("wineserver")))
    # The prefix's server may be up already (the package tests' fixture): then it stays up.
    started = sh("%s -p" % tool("wineserver"))[0] == 0
    sh("%s cmd /c exit" % tool("wine"))
    key, value, marker = '"HKLM\\%s"' % reg[0], reg[1], int(reg[2])
    try:
        for line, (path, n) in sorted(lines.items()):
            verb, of_value = line.split()[1].lower(), "/v" in line.split()
            sh("%s reg delete %s /f /reg:64" % (tool("wine"), key))
            if verb != "add":
                sh("%s reg add %s /v %s /t REG_DWORD /d %d /f /reg:64" % (tool("wine"), key, value, marker))
            rc, out = sh("%s %s" % (tool("wine"), line))
            has_key = sh("%s reg query %s /reg:64" % (tool("wine"), key))[0] == 0
            rc_value, shown = sh("%s reg query %s /v %s /reg:64" % (tool("wine"), key, value))
            stored = re.search(r"\b%s REG_DWORD (0x[0-9a-f]+)\b" % value, shown)
            said = normal(without_tags("\n".join(read(path).split("\n")[n - 1 : n + 6])))  # what the help says of it
            ok = {("add", 1): has_key and stored and int(stored.group(1), 16) == marker,
                  ("add", 0): has_key and rc_value, ("delete", 1): has_key and rc_value, ("delete", 0): not has_key,
                  ("query", 1): stored and stored.group(0) in said}
            print("ran under Wine: %s: exit %d; then: %s" % (line, rc, shown * has_key or "no key"))
            if rc or not ok[(verb, of_value)]:
                problem(path, n, "'%s' under Wine: exit %d, %s; then: %s" % (line, rc, out, shown * has_key or "none"))
    finally:
        sh("%s reg delete %s /f /reg:64" % (tool("wine"), key))
        if started:
            sh("%s -k" % tool("wineserver"))


def run(wine, scratch):
    found, lines = {}, set()
    for path, n, cmd in commands():
        found.setdefault(cmd, (path, n))
        lines.add((path, n))
    # Each command the documents hold is one this check runs or names.
    for path, n in sorted(held() - lines):
        problem(path, n, "holds a command that neither runs here nor is named as not run: " +
                read(path).splitlines()[n - 1].strip())
    kinds = {c: next(k for p, k in KINDS if re.match(p, c, re.I)) for c in found}
    for cmd in sorted(found, key=kinds.get):
        where = "%s:%d" % (os.path.relpath(found[cmd][0], SOURCE), found[cmd][1])
        if kinds[cmd]:
            print("not run here (%s): %s  [%s]" % (kinds[cmd], cmd, where))
        elif cmd.startswith("sha256sum"):
            run_sums(cmd, found[cmd], os.path.join(scratch, "sums"))

    # run-on-linux.sh: an option shown (in its commands, the help's "path" texts, the zip README, README option
    # tables in its sections) is one it takes and lists, and tests/dist/linux_*_test.sh use it.
    script, opt = os.path.join(SOURCE, "scripts", "run-on-linux.sh"), "--[a-z][a-z-]*"
    shown = {o for c in found if "run-on-linux.sh" in c.split()[0] for o in re.findall(r"(?<!\S)" + opt, c)}
    shown |= set(re.findall('class="path">(%s)<' % opt, "".join(read(os.path.join(HELP, n)) for n in os.listdir(HELP)))
                 + re.findall(r"(?<![\w-])" + opt, read(os.path.join(SOURCE, READMES[1]))))
    for s in (s for rel in READMES[:1] + READMES[2:] for s in re.split(r"\n#+ ", read(os.path.join(SOURCE, rel)))):
        shown |= set(re.findall(r"^\| `(%s)" % opt, s, re.M) if "run-on-linux.sh" in s else [])
    takes = set(re.findall(r"^\s+(?:-h \| )?(--[a-z-]+)\)", read(script), re.M))
    tests = "".join(read(p) for p in glob.glob(os.path.join(SOURCE, "tests", "dist", "linux_*_test.sh")))
    usage = subprocess.run(["bash", script, "--help"], capture_output=True, text=True, timeout=30)
    print("ran: run-on-linux.sh --help (exit %d); the options shown: %s" % (usage.returncode, " ".join(sorted(shown))))
    for o in sorted(shown):
        if o not in takes or usage.returncode or o not in usage.stdout:
            problem(script, 1, "the documents show %s, which run-on-linux.sh does not take or --help lists" % o)
        elif o != "--help" and not re.search(re.escape(o) + r"(?![\w-])", tests):
            problem(script, 1, "no test in tests/dist/linux_*_test.sh runs run-on-linux.sh %s" % o)

    os.makedirs(scratch, exist_ok=True)
    run_reg({c: found[c] for c in found if c.lower().startswith("reg ")}, wine, scratch, registry())
    for p in problems:
        print(p)
    print("help_texts_test --run: %d problem(s); %d commands found" % (len(problems), len(found)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(run(*sys.argv[3:5]) if sys.argv[2:3] == ["--run"] else main())
