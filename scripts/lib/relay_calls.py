"""Reads Wine relay traces taken with +relay (and optionally +timestamp).

calls LOG            prints, one per line, the Win32 calls the window procedure made while it
                     handled the last tab selection (the registered message with 3, 3)
latency PROBE LOG    prints the milliseconds from the probe's SendMessageW to the companion's
                     first K32EmptyWorkingSet, and to the reply
"""
import re
import sys

TAB = re.compile(r'"UWM_QELM_MSG-[^"]*",wp=00000003,lp=00000003')
LINE = re.compile(r"^(?:(\d+\.\d+):)?([0-9a-f]+):(Call|Ret) +(.*)$")
PROCEDURE = re.compile(r"^(?:dialog|window) proc ")
API = re.compile(r"^([A-Za-z0-9_]+)\.([A-Za-z0-9_]+)\(")


def parse(path):
    with open(path, errors="replace") as log:
        for line in log:
            match = LINE.match(line.rstrip("\n"))
            if match:
                stamp, thread, kind, rest = match.groups()
                yield (float(stamp) if stamp else None), thread, kind, rest


def tab_calls(path):
    """The calls of the last tab selection handled, as 'dll.Function' in order."""
    calls, current, thread, depth = [], None, None, 0
    for _, line_thread, kind, rest in parse(path):
        is_tab = PROCEDURE.match(rest) and TAB.search(rest)
        if current is None:
            if kind == "Call" and is_tab:
                current, thread, depth = [], line_thread, 1
            continue
        if line_thread != thread:
            continue
        if is_tab:
            depth += 1 if kind == "Call" else -1
            if depth == 0:
                calls, current = current, None
            continue
        api = API.match(rest)
        if kind == "Call" and api and not PROCEDURE.match(rest):
            current.append(f"{api.group(1).lower()}.{api.group(2)}")
    return calls


def latency(probe_path, companion_path):
    sent = replied = None
    for stamp, _, kind, rest in parse(probe_path):
        if rest.lower().startswith("user32.sendmessagew("):
            if kind == "Call":
                sent = stamp
            elif kind == "Ret" and sent is not None:
                replied = stamp
    trimmed = None
    for stamp, _, kind, rest in parse(companion_path):
        if kind == "Call" and rest.lower().startswith("kernel32.k32emptyworkingset(") and stamp >= sent:
            trimmed = stamp
            break
    return (trimmed - sent) * 1000, (replied - sent) * 1000


def main(arguments):
    if len(arguments) == 2 and arguments[0] == "calls":
        print("\n".join(tab_calls(arguments[1])))
    elif len(arguments) == 3 and arguments[0] == "latency":
        to_trim, to_reply = latency(arguments[1], arguments[2])
        print(f"tab to trim ms: {to_trim:.0f}\ntab to reply ms: {to_reply:.0f}")
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
