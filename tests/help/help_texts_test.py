#!/usr/bin/env python3
"""Checks the help and the READMEs against the program.

  help_texts_test.py SOURCE_DIR

- Every program text the help quotes (elements of class "msg", "box" and
  "caution") and every sentence the READMEs quote in double quotes is a text
  the program shows: one of ui/Texts.cpp or of the resource script.
  The system's own texts are marked class "sys" in the help and are not
  checked.
- Every time in minutes given for the update is the one the program's own
  message names. A measured duration written "4 min 40 s" is not such a
  figure.
- Every "reg" command names the program's registry key, value and marker
  and the 64-bit view (/reg:64), the one the 64-bit program uses.
- Every link of the help, of its contents and index and of README.md into
  help/ leads to a file of the help project and to an anchor in it, and the
  project lists every topic in help/.

Each problem is printed with its file and line; the exit status is 1 if
there is any.
"""

import html
import html.parser
import os
import re
import sys

SOURCE = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
HELP = os.path.join(SOURCE, "help")
PROJECT = os.path.join(HELP, "QV6100_UPDATE.hhp")
READMES = ["README.md", os.path.join("installer", "README.txt.in")]
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
    return html.unescape(re.sub(r"<[^>]*>", lambda m: "\n" * m.group(0).count("\n"), text)).replace("\xa0", " ")


REG = re.compile(r'\breg (?:add|delete|query) "(?:HKLM|HKEY_LOCAL_MACHINE)\\([^"]*)"([^\n<`]*)', re.IGNORECASE)


def check_reg(path, text, reg):
    key, value, marker = reg
    for m in REG.finditer(text):
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

    for readme in READMES:
        path = os.path.join(SOURCE, readme)
        lines = readme_lines(path)
        for line, text in enumerate(lines, 1):
            for quote in re.findall(r'"([A-Z][^"]*?[.!])"', text):
                check_quote(path, line, normal(quote), texts)
            for href in re.findall(r"\]\(help/([^)]+)\)", text):
                check_link(path, line, href, "")
        check_minutes(path, "\n".join(lines), expected)
        check_reg(path, read(path), reg)

    for p in problems:
        print(p)
    print("help_texts_test: %d problem(s); %d program texts, %d help files, the program's time: about %d minutes"
          % (len(problems), len(texts), len(pages), expected))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
