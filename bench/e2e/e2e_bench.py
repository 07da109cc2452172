#!/usr/bin/env python3
"""End-to-end benchmark of veltrask-cli against an authoritative server on loopback.

One nsd instance serves a generated zone on 127.0.0.1:<port> (for veltrask-cli
and dnsperf) and on 127.0.0.2:53 (for adnshost and dig, which only talk to
port 53). Every resolver gets the same name lists; every run's output is
checked against the addresses the zone holds for those names, so a fast run
that drops answers cannot pass for a good one.

Prints one table and the goals met or missed. Needs: nsd, dnsperf, adnshost
(adns-tools), dig (bind9-dnsutils) and /usr/bin/time (time); run as root so
that nsd may bind port 53.
"""
import argparse
import os
import platform
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_data  # noqa: E402

WINDOW_THREADS = 500
WINDOW_PAUSE_MS = 200
TOOLS = {"nsd": "nsd", "dnsperf": "dnsperf", "adnshost": "adns-tools", "dig": "bind9-dnsutils"}
RUN_TIMEOUT_S = 600


class BenchError(Exception):
    pass


# ---------------------------------------------------------------------------
# Machine

def machine_text():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem_gib = 0.0
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemTotal:"):
                    mem_gib = int(line.split()[1]) / 1024 / 1024
    except OSError:
        pass
    return "%d cores (nproc), %s, %.1f GiB memory, %s %s" % (
        os.cpu_count() or 0, model, mem_gib, platform.system(), platform.release())


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


# ---------------------------------------------------------------------------
# Server

def free_udp_port(address):
    # Below the usual ephemeral range, so no client socket of the run takes it.
    rng = random.Random()
    for _ in range(200):
        port = rng.randint(20000, 30000)
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            try:
                s.bind((address, port))
            except OSError:
                continue
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
            try:
                s.bind((address, port))
            except OSError:
                continue
        return port
    raise BenchError("no free UDP port on %s" % address)


def port_free(address, port):
    for kind in (socket.SOCK_DGRAM, socket.SOCK_STREAM):
        with socket.socket(socket.AF_INET, kind) as s:
            try:
                s.bind((address, port))
            except OSError:
                return False
    return True


class NsdServer:
    def __init__(self, work, zone_file, port):
        self.dir = os.path.join(work, "nsd")
        os.makedirs(self.dir, exist_ok=True)
        self.port = port
        self.conf = os.path.join(self.dir, "nsd.conf")
        self.log = os.path.join(self.dir, "nsd.log")
        with open(self.conf, "w") as f:
            f.write(
                "server:\n"
                "    ip-address: 127.0.0.1@%d\n"
                "    ip-address: 127.0.0.2@53\n"
                "    do-ip6: no\n"
                "    server-count: 1\n"
                "    username: \"\"\n"
                "    chroot: \"\"\n"
                "    database: \"\"\n"
                "    zonelistfile: \"%s/zone.list\"\n"
                "    xfrdfile: \"%s/xfrd.state\"\n"
                "    xfrdir: \"%s\"\n"
                "    pidfile: \"%s/nsd.pid\"\n"
                "    logfile: \"%s\"\n"
                "    verbosity: 1\n"
                # Response rate limiting would throttle one busy client.
                "    rrl-ratelimit: 0\n"
                "    rrl-whitelist-ratelimit: 0\n"
                "remote-control:\n"
                "    control-enable: no\n"
                "zone:\n"
                "    name: %s\n"
                "    zonefile: \"%s\"\n"
                % (port, self.dir, self.dir, self.dir, self.dir, self.log, gen_data.ZONE, zone_file))
        self.proc = None

    def start(self, probe_name):
        out = open(os.path.join(self.dir, "stdout.log"), "w")
        self.proc = subprocess.Popen(["nsd", "-d", "-c", self.conf], stdout=out, stderr=subprocess.STDOUT,
                                     start_new_session=True)
        out.close()
        deadline = time.monotonic() + 120
        targets = [("127.0.0.1", self.port), ("127.0.0.2", 53)]
        while targets:
            if self.proc.poll() is not None:
                raise BenchError("nsd ended at start-up (exit %d):\n%s" % (self.proc.returncode, self.log_text()))
            if time.monotonic() > deadline:
                raise BenchError("nsd did not answer within 120 s:\n%s" % self.log_text())
            addr, port = targets[0]
            r = subprocess.run(["dig", "@" + addr, "-p", str(port), "+short", "+time=1", "+tries=1", probe_name, "A"],
                               capture_output=True, text=True)
            if r.returncode == 0 and r.stdout.strip():
                targets.pop(0)
            else:
                time.sleep(0.2)

    def log_text(self):
        text = ""
        for name in ("stdout.log", "nsd.log"):
            try:
                with open(os.path.join(self.dir, name)) as f:
                    text += f.read()
            except OSError:
                pass
        return text

    def stop(self):
        if not self.proc or self.proc.poll() is not None:
            return
        # nsd's own children share its process group; the group is this
        # script's own child and nothing else.
        try:
            os.killpg(self.proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            return
        try:
            self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait(timeout=20)


# ---------------------------------------------------------------------------
# Measuring one run

class Run:
    def __init__(self, label, names, threads="", pause=""):
        self.label, self.names, self.threads, self.pause = label, names, threads, pause
        self.wall = self.user = self.sys = 0.0
        self.rss_kb = 0
        self.check = ""

    @property
    def cpu(self):
        return self.user + self.sys

    @property
    def rate(self):
        return self.names / self.wall if self.wall > 0 else 0.0

    @property
    def cpu_per_1000(self):
        return self.cpu * 1000.0 / self.names if self.names else 0.0


def parse_time_v(path):
    fields = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.strip().rpartition(": ")
            fields[key] = value
    try:
        return (float(fields["User time (seconds)"]), float(fields["System time (seconds)"]),
                int(fields["Maximum resident set size (kbytes)"]))
    except (KeyError, ValueError):
        raise BenchError("cannot read /usr/bin/time -v output in %s" % path)


def timed(cmd, stdin_path, stdout_path, work, ok_codes=(0,)):
    """Runs CMD under /usr/bin/time -v; returns (wall s, user s, sys s, peak RSS kB)."""
    tv = os.path.join(work, "time-v.txt")
    err = os.path.join(work, "stderr.txt")
    with open(stdin_path or os.devnull) as fin, open(stdout_path, "w") as fout, open(err, "w") as ferr:
        start = time.monotonic()
        proc = subprocess.Popen(["/usr/bin/time", "-v", "-o", tv] + cmd, stdin=fin, stdout=fout, stderr=ferr,
                                start_new_session=True)
        try:
            proc.wait(timeout=RUN_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            raise BenchError("%s ran longer than %d s" % (cmd[0], RUN_TIMEOUT_S))
        wall = time.monotonic() - start
    if proc.returncode not in ok_codes:
        with open(err) as f:
            raise BenchError("%s exited with %d:\n%s" % (" ".join(cmd), proc.returncode, f.read()[-2000:]))
    user, sys_s, rss = parse_time_v(tv)
    return wall, user, sys_s, rss


def check_addresses(got, expected):
    got = sorted(got)
    if got == expected:
        return "ok"
    return "WRONG: %d addresses, %d expected" % (len(got), len(expected))


def read_lines(path):
    with open(path) as f:
        return [line.strip() for line in f if line.strip()]


# ---------------------------------------------------------------------------
# The resolvers

class Bench:
    def __init__(self, args, work):
        self.a = args
        self.work = work
        self.lists = {}      # names -> (path, sorted expected addresses)
        self.runs = {}       # key -> every Run
        self.results = {}    # key -> the Run shown

    def make_lists(self, counts):
        zone = os.path.join(self.work, gen_data.ZONE + ".zone")
        gen_data.write_zone(zone, self.a.zone_names, self.a.glue)
        for n in sorted(set(counts)):
            # The one-name list measures the fixed cost of a run: a name that exists.
            nx_share = 0 if n == 1 else self.a.nx_share
            lines, expected = gen_data.make_list(n, self.a.zone_names, nx_share, seed=n)
            path = os.path.join(self.work, "names-%d.txt" % n)
            with open(path, "w") as f:
                f.write("\n".join(lines) + "\n")
            self.lists[n] = (path, sorted(expected))
        return zone

    def keep(self, key, run):
        self.runs.setdefault(key, []).append(run)

    def settle(self):
        """Each row gets its median run by wall time: on a shared machine the
        fastest run favours short runs, which more often fit into a quiet moment.
        A row with a wrong answer in any run shows that run."""
        for key, runs in self.runs.items():
            wrong = [r for r in runs if r.check != "ok"]
            self.results[key] = wrong[0] if wrong else sorted(runs, key=lambda r: r.wall)[(len(runs) - 1) // 2]

    def veltrask(self, names, threads, pause_ms):
        path, expected = self.lists[names]
        out = os.path.join(self.work, "out.txt")
        run = Run("veltrask-cli", names, threads, pause_ms)
        run.wall, run.user, run.sys, run.rss_kb = timed(
            [self.a.cli, "-q", "--dns", "127.0.0.1:%d" % self.port, "-t", str(threads), "--pause", str(pause_ms), path],
            None, out, self.work)
        run.check = check_addresses(read_lines(out), expected)
        self.keep(("veltrask", names, threads, pause_ms), run)

    def adnshost(self, names):
        path, expected = self.lists[names]
        out = os.path.join(self.work, "out.txt")
        run = Run("adnshost -a -f", names, "async")
        # Exit status 6 means some names do not exist, which the lists hold on purpose.
        run.wall, run.user, run.sys, run.rss_kb = timed(
            ["adnshost", "+e", "--config", "nameserver 127.0.0.2", "-Vq", "-a", "-Fi", "+Do", "+Dt", "-t", "a", "-f"],
            path, out, self.work, ok_codes=(0, 6))
        # -a prints "<id> <count> ok ..." status lines before each answer's data lines.
        addrs = [ln for ln in read_lines(out) if re.fullmatch(r"\d+\.\d+\.\d+\.\d+", ln)]
        run.check = check_addresses(addrs, expected)
        self.keep(("adnshost", names), run)

    def dig(self, names):
        path, expected = self.lists[names]
        out = os.path.join(self.work, "out.txt")
        run = Run("dig -f", names, "1")
        run.wall, run.user, run.sys, run.rss_kb = timed(
            ["dig", "@127.0.0.2", "-f", path, "+short", "+time=2", "+tries=2"], None, out, self.work,
            ok_codes=(0, 9))
        run.check = check_addresses(read_lines(out), expected)
        self.keep(("dig", names), run)

    def dnsperf(self, names):
        path, _ = self.lists[names]
        qfile = os.path.join(self.work, "dnsperf-%d.txt" % names)
        with open(path) as fin, open(qfile, "w") as fout:
            for line in fin:
                fout.write(line.strip() + " A\n")
        r = subprocess.run(["dnsperf", "-s", "127.0.0.1", "-p", str(self.port), "-d", qfile,
                            "-l", str(self.a.dnsperf_seconds), "-q", "200"],
                           capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
        m = re.search(r"Queries per second:\s+([\d.]+)", r.stdout)
        lost = re.search(r"Queries lost:\s+(\d+)", r.stdout)
        if r.returncode != 0 or not m:
            raise BenchError("dnsperf failed:\n%s%s" % (r.stdout[-2000:], r.stderr[-2000:]))
        qps = float(m.group(1))
        if qps > self.results.get("dnsperf", (0.0, 0))[0]:
            self.results["dnsperf"] = (qps, int(lost.group(1)) if lost else 0)


# ---------------------------------------------------------------------------
# Report

def fmt_row(cells, widths):
    return "| " + " | ".join(str(c).ljust(w) for c, w in zip(cells, widths)) + " |"


def table(header, rows):
    widths = [max(len(str(r[i])) for r in [header] + rows) for i in range(len(header))]
    lines = [fmt_row(header, widths), "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    lines += [fmt_row(r, widths) for r in rows]
    return "\n".join(lines)


def ratio_text(x):
    return "%.2f" % x if x else "-"


def report(b, a, loads, machine, started):
    R = b.results
    small, large = a.small, a.large
    adns = {n: R.get(("adnshost", n)) for n in (small, large)}
    dnsperf_qps, dnsperf_lost = R["dnsperf"]
    out = []
    out.append("Machine: %s" % machine)
    out.append("Load average (1, 5, 15 min): %s at the start, %s at the end; total benchmark time %.0f s"
               % (loads[0], loads[1], time.monotonic() - started))
    out.append("Zone: %d names with 1 to 4 A records each%s; lists: every %dth name absent (NXDOMAIN); "
               "median of %d runs per row" % (a.zone_names, ", name server address in every answer" if a.glue else "",
                                            a.nx_share, a.repeat))
    out.append("nsd ceiling (dnsperf, %d s, 200 queries in flight): %.0f queries/s, %d lost"
               % (a.dnsperf_seconds, dnsperf_qps, dnsperf_lost))
    out.append("")

    rows = []
    order = [("veltrask", n, t, 0) for t in a.threads for n in (small, large)]
    order += [("veltrask", 1, WINDOW_THREADS, 0)]
    order += [("veltrask", n, WINDOW_THREADS, WINDOW_PAUSE_MS) for n in a.window_names]
    order += [("adnshost", small), ("adnshost", large)] + [("dig", n) for n in a.dig_names]
    for key in order:
        r = R.get(key)
        if r is None:
            continue
        peer = adns.get(r.names)
        vs_adns_rate = r.rate / peer.rate if peer and r.label == "veltrask-cli" and r.pause == 0 else 0
        vs_adns_cpu = r.cpu_per_1000 / peer.cpu_per_1000 if peer and peer.cpu > 0 and r.label == "veltrask-cli" \
            and r.pause == 0 else 0
        rows.append([r.label, "{:,}".format(r.names), r.threads, r.pause, "%.2f" % r.wall,
                     "{:,.0f}".format(r.rate), "%.3f" % r.cpu_per_1000, "%.1f" % (r.rss_kb / 1024.0),
                     ratio_text(r.rate / dnsperf_qps if r.label == "veltrask-cli" else 0),
                     ratio_text(vs_adns_rate), ratio_text(vs_adns_cpu), r.check])
    out.append(table(["Resolver", "Names", "Threads", "Pause ms", "Wall s", "Names/s", "CPU s/1000",
                      "Peak RSS MB", "/ dnsperf", "/ adns rate", "/ adns CPU", "Answers"], rows))
    out.append("")

    goals = []

    def goal(ok, text):
        goals.append(("met   " if ok else "MISSED") + "  " + text)

    # Lookup time: the added time per name of one thread without pause, so
    # start-up and the end of the run do not count.
    one_s, one_l = R.get(("veltrask", small, 1, 0)), R.get(("veltrask", large, 1, 0))
    lookup_ms = (one_l.wall - one_s.wall) * 1000.0 / (large - small) if one_s and one_l else 0.0
    lookup_ms = max(lookup_ms, 0.0)
    theory = WINDOW_THREADS * 1000.0 / (WINDOW_PAUSE_MS + lookup_ms)
    fixed = R.get(("veltrask", 1, WINDOW_THREADS, 0))
    if one_s and one_l:
        out.append("Lookup time (1 thread, no pause, (%s - %s names) time difference per name): %.3f ms"
                   % ("{:,}".format(large), "{:,}".format(small), lookup_ms))
    else:
        out.append("Lookup time unknown (no 1-thread runs): taken as 0")
    if fixed:
        out.append("Fixed cost of a run (one name, %d threads, no pause): %.2f s wall"
                   % (WINDOW_THREADS, fixed.wall))
    out.append("Window theoretical rate: %d x 1000 / (%d + %.3f) = %.0f names/s"
               % (WINDOW_THREADS, WINDOW_PAUSE_MS, lookup_ms, theory))
    win = [R.get(("veltrask", n, WINDOW_THREADS, WINDOW_PAUSE_MS)) for n in a.window_names]
    win = [w for w in win if w]
    if win:
        big = max(win, key=lambda w: w.names)
        share = big.rate / theory
        out.append("Window achieved (whole run, %s names): %.0f names/s = %.1f%% of theoretical"
                   % ("{:,}".format(big.names), big.rate, share * 100))
        if len(win) >= 2:
            lo = min(win, key=lambda w: w.names)
            if big.wall > lo.wall:
                steady = (big.names - lo.names) / (big.wall - lo.wall)
                out.append("Window steady state ((%s - %s names) / time difference): %.0f names/s = %.1f%% of "
                           "theoretical" % ("{:,}".format(big.names), "{:,}".format(lo.names), steady,
                                            steady / theory * 100))
        goal(share >= 0.95 and all(w.check == "ok" for w in win),
             "window (%d threads, %d ms pause): >= 95%% of theoretical rate: %.1f%%"
             % (WINDOW_THREADS, WINDOW_PAUSE_MS, share * 100))
        peak = max(w.rss_kb for w in win) / 1024.0
        goal(peak < 100, "window peak RSS < 100 MB: %.1f MB" % peak)

    pause0 = [R.get(("veltrask", large, t, 0)) for t in a.threads]
    pause0 = [r for r in pause0 if r]
    if pause0 and adns[large]:
        best = max(pause0, key=lambda r: r.rate)
        goal(best.rate >= 0.5 * adns[large].rate,
             "no pause: >= 0.5 x adnshost lookups/s: %.2f x (%s threads, %s names)"
             % (best.rate / adns[large].rate, best.threads, "{:,}".format(large)))
        worst = max(r.cpu_per_1000 / adns[large].cpu_per_1000 for r in pause0)
        goal(worst <= 3.0, "no pause: CPU per lookup <= 3 x adnshost at every thread count: worst %.2f x" % worst)
    # Wall time shows what a user waits for (start-up and the end of the run
    # included); CPU time is steadier while other work shares the machine.
    want = large / small
    for t in a.threads:
        s, l = R.get(("veltrask", small, t, 0)), R.get(("veltrask", large, t, 0))
        if s and l and s.wall > 0 and s.cpu > 0:
            wall, cpu = l.wall / s.wall, l.cpu / s.cpu
            goal(abs(wall / want - 1) <= 0.15 and abs(cpu / want - 1) <= 0.15,
                 "linear cost, %d threads: %s names take %.2f x the wall time and %.2f x the CPU time of %s "
                 "(want %.0f +- 15%%)" % (t, "{:,}".format(large), wall, cpu, "{:,}".format(small), want))
    # Added time per added name: what each resolver costs once started,
    # without its start-up and end of run.
    steady = []
    pairs = [("veltrask-cli %d threads" % t, R.get(("veltrask", small, t, 0)), R.get(("veltrask", large, t, 0)))
             for t in a.threads]
    pairs.append(("adnshost", adns[small], adns[large]))
    for text, s, l in pairs:
        if s and l and l.wall > s.wall:
            steady.append("%s %s" % (text, "{:,.0f}".format((large - small) / (l.wall - s.wall))))
    if steady:
        out.append("Steady-state names/s ((%s - %s names) / time difference): %s"
                   % ("{:,}".format(large), "{:,}".format(small), "; ".join(steady)))
    bad = [r for r in R.values() if isinstance(r, Run) and r.check != "ok"]
    goal(not bad, "every run returned exactly the zone's addresses")
    out.append("")
    out.append("Goals:")
    out.extend("  " + g for g in goals)
    return "\n".join(out)


# ---------------------------------------------------------------------------

def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--cli", required=True, help="the veltrask-cli binary (a Release build)")
    p.add_argument("--zone-names", type=int, default=100000)
    p.add_argument("--nx-share", type=int, default=10)
    p.add_argument("--small", type=int, default=10000)
    p.add_argument("--large", type=int, default=100000)
    p.add_argument("--threads", type=int, nargs="+", default=[1, 8, 64, 500])
    p.add_argument("--window-names", type=int, nargs="+", default=[5000, 20000],
                   help="list sizes for the default-pause runs at 500 threads")
    p.add_argument("--dig-names", type=int, nargs="+", default=[10000])
    p.add_argument("--dnsperf-seconds", type=int, default=5)
    p.add_argument("--repeat", type=int, default=3, help="runs per row; the median is shown")
    p.add_argument("--glue", action="store_true",
                   help="serve the zone's name server address with every answer (additional section); "
                        "a resolver that takes it for an answer shows WRONG")
    p.add_argument("--output", help="also write the report to this file")
    p.add_argument("--keep", action="store_true", help="keep the work folder")
    a = p.parse_args()

    missing = ["%s (Debian package %s)" % (t, pkg) for t, pkg in TOOLS.items() if not shutil.which(t)]
    if not os.access("/usr/bin/time", os.X_OK):
        missing.append("/usr/bin/time (Debian package time)")
    if missing:
        sys.exit("missing: " + ", ".join(missing) + "; `make bench-e2e` installs them")
    if not os.access(a.cli, os.X_OK):
        sys.exit("not an executable: %s" % a.cli)
    if os.geteuid() != 0:
        sys.exit("run as root: the server must bind port 53 of 127.0.0.2 for adnshost and dig")
    if not port_free("127.0.0.2", 53):
        sys.exit("127.0.0.2:53 is taken; adnshost and dig need it for the server")
    if a.large <= a.small:
        sys.exit("--large must be above --small")
    for n in [a.small, a.large] + a.window_names + a.dig_names:
        if n > a.zone_names:
            sys.exit("a list of %d names needs --zone-names of at least that" % n)

    started = time.monotonic()
    load_start = load_average()
    machine = machine_text()
    work = tempfile.mkdtemp(prefix="vt-e2e-")
    server = None
    try:
        b = Bench(a, work)
        print("generating the zone and the name lists in %s ..." % work, flush=True)
        zone = b.make_lists([1, a.small, a.large] + a.window_names + a.dig_names)
        b.port = free_udp_port("127.0.0.1")
        server = NsdServer(work, zone, b.port)
        print("starting nsd on 127.0.0.1:%d and 127.0.0.2:53 ..." % b.port, flush=True)
        server.start(gen_data.host_name(0))

        b.dnsperf(a.large)
        for rep in range(a.repeat):
            print("round %d of %d" % (rep + 1, a.repeat), flush=True)
            for t in a.threads:
                for n in (a.small, a.large):
                    print("  veltrask-cli %d names, %d threads, no pause" % (n, t), flush=True)
                    b.veltrask(n, t, 0)
            print("  veltrask-cli 1 name (fixed cost)", flush=True)
            b.veltrask(1, WINDOW_THREADS, 0)
            for n in a.window_names:
                print("  veltrask-cli %d names, %d threads, pause %d ms" % (n, WINDOW_THREADS, WINDOW_PAUSE_MS),
                      flush=True)
                b.veltrask(n, WINDOW_THREADS, WINDOW_PAUSE_MS)
            for n in (a.small, a.large):
                print("  adnshost %d names" % n, flush=True)
                b.adnshost(n)
            for n in a.dig_names:
                print("  dig -f %d names" % n, flush=True)
                b.dig(n)
        b.dnsperf(a.large)
        b.settle()
        text = report(b, a, (load_start, load_average()), machine, started)
        print()
        print(text)
        if a.output:
            with open(a.output, "w") as f:
                f.write(text + "\n")
    except BenchError as e:
        sys.exit("bench-e2e: %s" % e)
    finally:
        if server:
            server.stop()
        if a.keep:
            print("work folder kept: %s" % work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    # Missed goals are findings, not a broken benchmark.
    return 0


if __name__ == "__main__":
    sys.exit(main())
