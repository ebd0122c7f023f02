"""The relay-trace reader that proves the floor makes the companion's calls."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "lib"))
import relay_calls  # noqa: E402

TAB = '"UWM_QELM_MSG-6FDBF489-1D15-4b5f-A649-CE4A18E8DD43",wp=00000003,lp=00000003'
RELOAD = '"UWM_QELM_MSG-6FDBF489-1D15-4b5f-A649-CE4A18E8DD43",wp=00000001,lp=00000002'


def trace(*lines):
    log = tempfile.NamedTemporaryFile("w", suffix=".relay", delete=False)
    log.write("\n".join(lines) + "\n")
    log.close()
    return log.name


class TabCalls(unittest.TestCase):
    def test_keeps_the_handling_threads_calls_in_order_and_nothing_around_them(self):
        path = trace(
            "0130:Call KERNEL32.OpenProcess(001f0fff,00000000,00000038) ret=1",
            f"0130:Call window proc 0000000216A0 (hwnd=0000000000010062,msg={TAB})",
            f"0130:Call dialog proc 0000000140001AB0 (hwnd=0000000000010062,msg={TAB})",
            "0130:Call KERNEL32.K32EnumProcesses(0021f8a0,00001000,0021f89c) ret=1",
            "0124:Call KERNEL32.OpenProcess(00001410,00000000,00000040) ret=1",
            "0130:Call window proc 00000002169EFA20 (hwnd=0000000000010058,msg=WM_GETTEXT)",
            "0130:Ret  window proc 00000002169EFA20 (hwnd=0000000000010058,msg=WM_GETTEXT)",
            "0130:Call advapi32.RegOpenKeyExW(80000001,0021f6d0,00000000,00000001) ret=1",
            "0130:Ret  advapi32.RegOpenKeyExW() retval=00000000 ret=1",
            f"0130:Ret  dialog proc 0000000140001AB0 (hwnd=0000000000010062,msg={TAB}) retval=1",
            f"0130:Ret  window proc 0000000216A0 (hwnd=0000000000010062,msg={TAB}) retval=1",
            "0130:Call KERNEL32.CloseHandle(00000058) ret=1",
        )
        self.assertEqual(relay_calls.tab_calls(path),
                         ["kernel32.K32EnumProcesses", "advapi32.RegOpenKeyExW"])

    def test_reads_the_last_tab_selection_and_ignores_other_commands(self):
        path = trace(
            f"0130:Call window proc 01 (hwnd=01,msg={TAB})",
            "0130:Call KERNEL32.K32EnumProcesses(0,0,0) ret=1",
            f"0130:Ret  window proc 01 (hwnd=01,msg={TAB}) retval=1",
            f"0130:Call window proc 01 (hwnd=01,msg={RELOAD})",
            "0130:Call advapi32.RegQueryValueExW(0,0,0,0,0,0) ret=1",
            f"0130:Ret  window proc 01 (hwnd=01,msg={RELOAD}) retval=1",
            f"0130:Call window proc 01 (hwnd=01,msg={TAB})",
            "0130:Call KERNEL32.K32EmptyWorkingSet(00000058) ret=1",
            f"0130:Ret  window proc 01 (hwnd=01,msg={TAB}) retval=1",
        )
        self.assertEqual(relay_calls.tab_calls(path), ["kernel32.K32EmptyWorkingSet"])

    def test_an_unfinished_tab_selection_gives_no_calls(self):
        path = trace(f"0130:Call window proc 01 (hwnd=01,msg={TAB})",
                     "0130:Call KERNEL32.K32EnumProcesses(0,0,0) ret=1")
        self.assertEqual(relay_calls.tab_calls(path), [])


class Latency(unittest.TestCase):
    def test_measures_from_the_send_to_the_first_trim_after_it_and_to_the_reply(self):
        probe = trace(
            "100.000:0024:Call user32.SendMessageW(00010062,0000c0a5,00000003,00000003) ret=1",
            "100.250:0024:Ret  user32.SendMessageW() retval=00000001 ret=1",
        )
        companion = trace(
            "99.500:0130:Call KERNEL32.K32EmptyWorkingSet(00000058) ret=1",
            "100.120:0130:Call KERNEL32.K32EmptyWorkingSet(0000005c) ret=1",
            "100.121:0130:Call KERNEL32.K32EmptyWorkingSet(ffffffffffffffff) ret=1",
        )
        to_trim, to_reply = relay_calls.latency(probe, companion)
        self.assertAlmostEqual(to_trim, 120, places=3)
        self.assertAlmostEqual(to_reply, 250, places=3)


if __name__ == "__main__":
    unittest.main()
