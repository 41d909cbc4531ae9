#!/usr/bin/env python3
"""Checks that docs/user-guide.md covers what the program accepts and shows.

The lists come from the program's own source, not from a copy kept here: the script
directive table, the calculator's operations and test words, the upgrade descriptor's
keywords, comparisons and file endings, the main HEX file's companions, the settings file's
sections and keys, the upgrade worker's status and log lines, every message box text and
numbered text, the menus and dialog captions, and the files of examples/. Sources are found by
what they contain, not by their path, so moving files does not break the check; a list that
comes out (nearly) empty means the source changed shape, and fails the check too.

Terms the user writes (directives, operations, keywords, keys) must appear in the guide's code
(inline code or code blocks); texts the program shows must appear anywhere in it, where a
printf field (%d, %s) stands for any text. Every message (a message box's text, a line the
program writes into the results window, the upgrade dialog's status, log and button texts, the
information panel's notes, the LAN search's row notes) must moreover have an entry of its own in
the chapter "Messages and troubleshooting": the first cell of a table row, or a heading, there.
Messages are found by where the text goes, following it back through the variables, out
parameters and return values of the function that shows it.
Usage: check_guide.py SOURCE_ROOT   (exit status 0 complete, 1 something missing)
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else '.').resolve()
PRODUCT_DIRS = ('app', 'common', 'link', 'script', 'upgrade', 'window', 'run', 'res')


def strip_comments(text):
    text = re.sub(r'/\*.*?\*/', ' ', text, flags=re.S)
    text = re.sub(r'(?m)^\s*#\s*include.*$', '', text)
    return re.sub(r'(?m)//.*$', '', text)


SOURCES = {}
for folder in PRODUCT_DIRS:
    for path in sorted((ROOT / folder).rglob('*')):
        if path.suffix in ('.cpp', '.h', '.rc'):
            SOURCES[path] = strip_comments(path.read_text(errors='replace'))


def files_with(pattern):
    return [text for text in SOURCES.values() if re.search(pattern, text)]


def joined_literals(args):
    """Adjacent string literals of an argument text, joined as the compiler joins them."""
    return ''.join(re.findall(r'"((?:[^"\\]|\\.)*)"', args))


def split_args(args):
    """An argument list split at its top-level commas."""
    out, depth, i, start = [], 0, 0, 0
    while i < len(args):
        c = args[i]
        if c == '"':
            i += 1
            while i < len(args) and args[i] != '"':
                i += 2 if args[i] == '\\' else 1
        elif c in '([{':
            depth += 1
        elif c in ')]}':
            depth -= 1
        elif c == ',' and depth == 0:
            out.append(args[start:i])
            start = i + 1
        i += 1
    out.append(args[start:])
    return [a.strip() for a in out]


def call_args(text, name):
    """Argument texts of every call of name in text (balanced parentheses)."""
    out = []
    for m in re.finditer(r'\b' + re.escape(name) + r'\s*\(', text):
        out.append(text[m.end():past_close(text, m.end(), '()', '"') - 1])
    return out


def past_close(text, i, pair, quotes):
    """Index just past the bracket that closes the pair[0] opened before i, skipping quoted text."""
    depth = 1
    while i < len(text) and depth:
        c = text[i]
        if c in quotes:
            i += 1
            while i < len(text) and text[i] != c:
                i += 2 if text[i] == '\\' else 1
        elif c == pair[0]:
            depth += 1
        elif c == pair[1]:
            depth -= 1
        i += 1
    return i


# --- What the source defines -------------------------------------------------------------------

def directives():
    found = set()
    for text in files_with(r'DIR_BEEP'):
        found.update(re.findall(r'\{\s*"([a-z]+)"\s*,\s*DIR_[A-Z_]+\s*\}', text))
    return sorted(found)


def calculator():
    found = set()
    for text in files_with(r'\bRpnEvaluate\s*\([^;{]*\)\s*\{'):
        for a, b in re.findall(r'\bis\(\s*"([^"]+)"(?:\s*,\s*"([^"]+)")?\s*\)', text):
            found.update(x for x in (a, b) if x)
        found.update(re.findall(r'\bstrn?cmp\(\s*text\s*,\s*"([^"]+)"', text))
        found.update('test,' + w for w in re.findall(r'\bstrcmp\(\s*word\s*,\s*"([^"]+)"\s*\)', text))
        if re.search(r"text\[0\]\s*==\s*'\['", text):
            found.add('[')
    return sorted(found)


def descriptor_terms():
    found = set()
    for text in files_with(r'\bReadUpgradeDescriptor\s*\([^;{]*\)\s*\{'):
        for upper, lower in re.findall(
                r'DescHasKeyword\(\s*\w+\s*,\s*"([A-Z]+)"\s*,\s*(?:"([a-z]+)"|nullptr)\s*\)', text):
            found.update(x for x in (upper, lower) if x)
        found.update(re.findall(r'\{\s*"([a-z]+)"\s*,\s*COMPARE_[A-Z]+\s*\}', text))
    for text in files_with(r'\bending\b'):
        found.update('.' + e for e in re.findall(r'TextEqualNoCase\(\s*ending\s*,\s*"(\w+)"\s*\)', text))
    for text in files_with(r'\bReadDirectHexFile\s*\([^;{]*\)\s*\{'):
        for args in call_args(text, 'DirectHexCompanion'):
            found.update(re.findall(r'"([A-Z]{2,})"', args))
        found.update(re.findall(r'TextStartsWithNoCase\(\s*name\s*,\s*"([A-Z]+)"\s*\)', text))
    return sorted(found)


def settings():
    """Sections and keys of every private-profile call; a key passed through a helper's
    parameter is taken from the literals that the helper's callers pass."""
    sections, keys = set(), set()
    # The profile functions, or the glue's UTF-8 helpers, which take the file's name first.
    call = re.compile(r'(?:(?:Get|Write)PrivateProfile(?:Int|String)A\(|Profile(?:GetInt|GetString|WriteString)\([^,()]+,)'
                      r'\s*"(\w+)"\s*,\s*(?:"(\w+)"|(\w+))')
    for text in files_with(r'PrivateProfile|Profile(?:Get|Write)'):
        for m in call.finditer(text):
            sections.add(m.group(1))
            if m.group(2):
                keys.add(m.group(2))
                continue
            # The enclosing function: the last definition header before the call.
            heads = list(re.finditer(r'(?m)^[A-Za-z_][\w \t\*&:<>]*?\b(\w+)\s*\(([^()]*)\)\s*$', text[:m.start()]))
            if not heads or not re.search(r'\b' + re.escape(m.group(3)) + r'\b', heads[-1].group(2)):
                keys.add('?' + m.group(3))  # shape unknown: reported as missing
                continue
            helper = heads[-1].group(1)
            for args in call_args(text, helper):
                keys.update(re.findall(r'^\s*"(\w+)"', args))
    return sorted(sections), sorted(keys)


def constants(text):
    """Named text constants of a file: NAME -> value (adjacent literals joined)."""
    return {name: joined_literals(body) for name, body in re.findall(
        r'\bconst\s+char\s+(\w+)\s*\[\s*\]\s*=\s*((?:"(?:[^"\\]|\\.)*"\s*)+);', text)}


def shown_texts():
    """Texts the program shows: numbered texts, message boxes and their captions, results
    lines, dialog and panel texts, the upgrade's status and log lines, version messages, the
    files list's headings, menus, dialog captions and buttons."""
    found = set()
    for text in files_with(r'TextTable\s*\[\s*\w+\s*\]\s*=\s*\{'):
        for body in re.findall(r'TextTable\s*\[\s*\w+\s*\]\s*=\s*\{(.*?)\};', text, flags=re.S):
            found.update(t for t in re.findall(r'"((?:[^"\\]|\\.)*)"', body) if t.strip())
    for path, text in SOURCES.items():
        if path.parent.name == 'run':
            continue  # the command-line companion's texts belong to its own document
        named = constants(text)
        # A phrase kept in a constant is there to be shown (markup and paths have no blank
        # or carry escaped backslashes and braces).
        found.update(v for v in named.values() if ' ' in v and '\\\\' not in v and '{' not in v)

        def value(arg):
            return joined_literals(arg) if arg.startswith('"') else named.get(arg)
        for name, positions in (('UiMessage', (1, 2)), ('MessageBoxA', (1, 2)), ('ShellAppendResults', (0,)),
                                ('SetDlgItemTextA', (2,)), ('BootPost', (2,))):
            for args in call_args(text, name):
                parts = split_args(args)
                for i in positions:
                    v = value(parts[i]) if i < len(parts) else None
                    if v:
                        found.add(v)
        for args in call_args(text, 'BootPost'):
            found.update(re.findall(r'"((?:[^"\\]|\\.)*)"', args))
        found.update(joined_literals(m) for m in re.findall(r'lpstrTitle\s*=\s*((?:"(?:[^"\\]|\\.)*"\s*)+);', text))
        found.update(joined_literals(m) for m in re.findall(r'return\s*\{\s*-1\s*,\s*((?:"(?:[^"\\]|\\.)*"\s*)+)', text))
        found.update(joined_literals(m) for m in re.findall(r'snprintf\(\s*text\s*,[^,]+,\s*((?:"(?:[^"\\]|\\.)*"\s*)+)', text))
        if re.search(r'\bBuildPanelRuns\s*\([^;{]*\)\s*\{', text):
            found.update(t.strip() for t in re.findall(r'"((?:[^"\\]|\\.)*)"', text)
                         if re.search('[A-Za-z]{3}', t))
        if re.search(r'\bBuildProposedOperation\s*\([^;{]*\)\s*\{', text):
            for t in re.findall(r'\bProposalAdd\([^,]+,[^,]+,\s*"((?:[^"\\]|\\.)*)"', text):
                found.update(line.strip() for line in t.split('\\n') if re.search('[A-Za-z]{3}', line))
        if path.suffix == '.rc':
            for kind in ('MENUITEM', 'POPUP', 'CAPTION', 'PUSHBUTTON', 'DEFPUSHBUTTON'):
                found.update(t.replace('&', '') for t in re.findall(r'\b' + kind + r'\s+"([^"]+)"', text))
    return sorted(t for t in found if re.search('[A-Za-z]{2}', t))


# --- Messages: what the program says to the user, followed back from where it is shown ------

def product_texts():
    """The window's sources: the command-line companion's texts belong to its own document."""
    return {path: text for path, text in SOURCES.items() if path.parent.name != 'run'}


def function_definitions():
    """Every function defined in the window's sources: name -> [(parameter names, body, constants
    of its file, (file, start, end of the body))]. A definition starts a line (a return type
    first) and its body is the balanced braces after the parameter list."""
    found = {}
    head = re.compile(r'(?m)^(?:[A-Za-z_][\w:<>\*&]*[ \t\*&]+)+(\w+)\s*\(([^()]*(?:\([^()]*\)[^()]*)*)\)\s*(?:const\s*)?\{')
    for path, text in product_texts().items():
        named = constants(text)
        for m in head.finditer(text):
            i = past_close(text, m.end(), '{}', '"\'')
            params = [re.findall(r'(\w+)\s*(?:\[[^\]]*\])?\s*$', p.split('=')[0].strip() or '_') or ['']
                      for p in split_args(m.group(2))]
            found.setdefault(m.group(1), []).append(
                ([p[0] for p in params], text[m.end():i - 1], named, (path, m.end(), i)))
    return found


FUNCTIONS = function_definitions()
TABLES = {}
for _text in SOURCES.values():
    for _name, _body in re.findall(r'(\w+TextTable)\s*\[\s*\w+\s*\]\s*=\s*\{(.*?)\};', _text, flags=re.S):
        # One entry per element: an entry that is no literal (the version text) keeps its place.
        TABLES[_name] = [joined_literals(e) if e.startswith('"') else '' for e in split_args(_body)]


def top_level_split(expr, sep):
    """expr split at sep outside parentheses, brackets and string literals."""
    out, depth, i, start = [], 0, 0, 0
    while i < len(expr):
        c = expr[i]
        if c in '"\'':
            q = c
            i += 1
            while i < len(expr) and expr[i] != q:
                i += 2 if expr[i] == '\\' else 1
        elif c in '([{':
            depth += 1
        elif c in ')]}':
            depth -= 1
        elif depth == 0 and expr.startswith(sep, i) and not expr.startswith(sep + '=', i) and \
                not (sep in '+' and expr[i - 1:i] in '+' and i > 0):
            out.append(expr[start:i])
            start = i + len(sep)
            i += len(sep) - 1
        i += 1
    out.append(expr[start:])
    return [p.strip() for p in out]


def resolve(expr, body, params, named, depth=0):
    """The texts an expression can stand for: literals, named constants, numbered texts (every
    number in the brackets), both sides of a condition, concatenations (other parts as %s),
    and, for a variable, whatever the function puts into it (assignments, appends, copies,
    formats, calls that fill it); for a call, what the function returns."""
    expr = expr.strip()
    expr = re.sub(r'\.c_str\(\)$', '', expr)
    expr = re.sub(r'^\((?:const\s+)?\w+\s*\**\)\s*', '', expr)  # a cast
    if depth > 5 or not expr:
        return set()
    branches = top_level_split(expr, '?')
    if len(branches) == 2:
        sides = top_level_split(branches[1], ':')
        return set().union(*(resolve(e, body, params, named, depth + 1) for e in sides[-2:]))
    pieces = top_level_split(expr, '+')
    if len(pieces) > 1 and any(p.startswith('"') for p in pieces):
        template = ''.join(joined_literals(p) if re.fullmatch(r'(?:"(?:[^"\\]|\\.)*"\s*)+', p) else '%s'
                           for p in pieces)
        return {template}
    if re.fullmatch(r'(?:"(?:[^"\\]|\\.)*"\s*)+', expr):
        return {joined_literals(expr)}
    m = re.fullmatch(r'(\w+TextTable)\s*\[(.*)\]', expr, flags=re.S)
    if m:
        table = TABLES.get(m.group(1), [])
        return {table[int(n)] for n in re.findall(r'\b\d+\b', m.group(2)) if int(n) < len(table)}
    if expr.startswith('{') and expr.endswith('}'):
        return set().union(set(), *(resolve(e, body, params, named, depth + 1) for e in split_args(expr[1:-1])))
    m = re.fullmatch(r'(\w+)\s*\((.*)\)', expr, flags=re.S)
    if m:
        found = set()
        for fparams, fbody, fnamed, _ in FUNCTIONS.get(m.group(1), []):
            for ret in re.findall(r'\breturn\b\s*([^;]*);', fbody):
                found |= resolve(ret, fbody, fparams, fnamed, depth + 1)
        return found
    m = re.fullmatch(r'(\w+)(?:(?:\.|->)\w+|\[[^\]]*\])*', expr)
    if not m:
        return set()
    name = m.group(1)
    if name in named:
        return {named[name]}
    return variable_texts(name, body, params, named, depth)


FILLERS = {'snprintf': 2, 'TextCopy': 2, 'TextCopyN': 2, 'TextAppend': 2, 'strcpy': 1, 'strcat': 1}


def variable_texts(name, body, params, named, depth):
    found = set()
    v = re.escape(name)
    for value in re.findall(r'(?<![.>])\b' + v + r'\s*\+?=(?!=)\s*([^;]+);', body):
        found |= resolve(value, body, params, named, depth + 1)
    for fn, at in FILLERS.items():
        for args in call_args(body, fn):
            parts = split_args(args)
            if parts and parts[0] == name and len(parts) > at:
                found |= resolve(parts[at], body, params, named, depth + 1)
                if fn == 'snprintf':  # what fills the fields is shown too ("Unknown Model")
                    for arg in parts[at + 1:]:
                        found |= resolve(arg, body, params, named, depth + 1)
    # Filled by a call that takes it as an out parameter.
    for fn, fdefs in FUNCTIONS.items():
        if fn in FILLERS or not re.search(r'\b' + re.escape(fn) + r'\s*\(', body):
            continue
        for args in call_args(body, fn):
            parts = split_args(args)
            for pos, part in enumerate(parts):
                if part != name:
                    continue
                for fparams, fbody, fnamed, _ in fdefs:
                    if pos < len(fparams) and fparams[pos]:
                        found |= variable_texts(fparams[pos], fbody, fparams, fnamed, depth + 1)
    return found


# Where a message is shown, and which argument holds its text.
MESSAGE_SITES = (('UiMessage', 1), ('MessageBoxA', 1), ('ShellAppendResults', 0), ('BootPost', 2),
                 ('SetDlgItemTextA', 2), ('PanelAddRun', 2))


def messages():
    """The program's messages, from where they are shown (MESSAGE_SITES), and the named
    phrases that end up there by ways the tracing does not follow (row notes of the LAN
    search, the late-reply mark). Labels are left out: the information panel's headings and
    field names, control texts set on label and About controls, captions, comms-log markers."""
    found = set()
    spans = [(span, params, body) for fdefs in FUNCTIONS.values() for params, body, _, span in fdefs]
    for path, text in product_texts().items():
        named = constants(text)
        for site, at in MESSAGE_SITES:
            for m in re.finditer(r'\b' + site + r'\s*\(', text):
                args = split_args(call_args(text[m.start():], site)[0])
                if len(args) <= at:
                    continue
                if site == 'SetDlgItemTextA' and re.search(r'LABEL|ABOUT', args[1]):
                    continue
                if site == 'PanelAddRun':
                    v = args[at]
                    texts = {joined_literals(v)} if v.startswith('"') else {named[v]} if v in named else set()
                    found.update(t for t in texts if not re.search(r'[:.]\s*(\\n)*\s*$', t))
                    continue
                # The function around the call: its body and parameters.
                body, params = text, []
                for (fpath, start, end), fparams, fbody in spans:
                    if fpath == path and start <= m.start() < end:
                        body, params = fbody, fparams
                found |= resolve(args[at], body, params, named)
        is_panel = re.search(r'\bBuildPanelRuns\s*\([^;{]*\)\s*\{', text)
        captions = set()
        for site in ('UiMessage', 'MessageBoxA'):
            for args in call_args(text, site):
                parts = split_args(args)
                if len(parts) > 2:
                    captions.add(parts[2])
        found.update(v for k, v in named.items()
                     if ' ' in v and '\\\\' not in v and '{' not in v and '***' not in v and k not in captions
                     and not (is_panel and re.search(r':\s*(\\n)*\s*$', v)))
    return sorted(t for t in found if re.search('[A-Za-z]{2}', t))


def example_files():
    folder = ROOT / 'examples'
    return sorted(p.name for p in folder.rglob('*') if p.is_file()) if folder.is_dir() else []


# --- What the guide says -------------------------------------------------------------------------

GUIDE = (ROOT / 'docs' / 'user-guide.md').read_text()
CODE = '\n'.join(re.findall(r'(?ms)^```[^\n]*\n(.*?)^```', GUIDE) +
                 re.findall(r'`([^`\n]+)`', re.sub(r'(?ms)^```.*?^```', '', GUIDE)))
PROSE = re.sub(r'\s+', ' ', GUIDE)


def in_code(term, prefix='', whole=True):
    tail = r'(?![A-Za-z0-9_])' if whole and re.match(r'.*\w$', term) else ''
    return re.search(r'(?<![A-Za-z0-9_])' + re.escape(prefix + term) + tail, CODE) is not None


CHAPTER_TITLE = 'Messages and troubleshooting'
_chapter = re.search(r'(?ms)^## ' + CHAPTER_TITLE + r'\s*$(.*?)(?=^## |\Z)', GUIDE)
# The chapter's entries: the first cell of each table row (not the header's rule) and each heading.
ENTRIES = [re.sub(r'\s+', ' ', e) for e in
           re.findall(r'(?m)^\|([^|\n]*)\|', _chapter.group(1)) + re.findall(r'(?m)^#{3,}\s+(.*)$', _chapter.group(1))
           if not re.fullmatch(r'[\s:-]*', e)] if _chapter else []


def pattern_of(text):
    """A message as a pattern: printf fields match any text, line ends and blanks any blank."""
    text = re.sub(r'^(\\[rn])+|(\\[rn]|\s|:)+$', '', text)
    text = re.sub(r'^\s+', '', text)
    pattern = ''
    for piece in re.split(r'(%[-0-9.]*[ds]|\\[rnt]|\s+)', text):
        if not piece:
            continue
        if re.fullmatch(r'%[-0-9.]*[ds]', piece):
            pattern += r'.+?'
        elif re.fullmatch(r'\\[rnt]|\s+', piece):
            pattern += r'\s*'
        else:
            pattern += re.escape(piece.replace('\\"', '"').replace('\\\\', '\\'))
    return pattern


def has_entry(text):
    """The message has an entry of its own in the chapter "Messages and troubleshooting"."""
    return any(re.search(pattern_of(text), entry) for entry in ENTRIES)


def shown(text):
    """The text appears in the guide; printf fields match any text, line ends any blank."""
    return re.search(pattern_of(text), PROSE) is not None


def main():
    missing, problems = [], []
    groups = []
    d = directives()
    groups.append(('directive', d, 12, lambda t: in_code(t, '#')))
    c = calculator()
    groups.append(('calculator line', c, 22,
                   lambda t: in_code(t, '=', whole=t not in ('[', 'test,'))))
    groups.append(('descriptor term', descriptor_terms(), 16, lambda t: in_code(t, whole=not t.isupper() or len(t) > 3)))
    sections, keys = settings()
    groups.append(('settings section', sections, 2, lambda t: in_code(t)))
    groups.append(('settings key', keys, 7, lambda t: not t.startswith('?') and in_code(t)))
    groups.append(('shown text', shown_texts(), 80, shown))
    groups.append(('example file', example_files(), 5, lambda t: t in GUIDE))
    if not _chapter:
        problems.append(f'docs/user-guide.md has no chapter "## {CHAPTER_TITLE}"')
    groups.append(('message', messages(), 40, has_entry))
    for name, items, least, ok in groups:
        if len(items) < least:
            problems.append(f'only {len(items)} {name}s found in the source (at least {least} expected): '
                            f'the source changed shape; update {pathlib.Path(__file__).name}')
        for item in items:
            if not ok(item):
                missing.append(f'{name}: {item}')
        print(f'{len(items):4d} {name}s')
    for line in problems + missing:
        print('MISSING ' + line if line in missing else 'PROBLEM ' + line)
    if missing or problems:
        print(f'docs/user-guide.md is incomplete: {len(missing)} missing, {len(problems)} problem(s)')
        return 1
    print('docs/user-guide.md covers every item')
    return 0


if __name__ == '__main__':
    sys.exit(main())
