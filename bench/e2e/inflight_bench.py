#!/usr/bin/env python3
"""veltrask-cli against adnshost with the same number of queries in flight.

One nsd serves a generated zone on 127.0.0.1:<port> (veltrask-cli) and on
127.0.0.2:53 (adnshost only talks to port 53). For each in-flight count N
(default 64 and 500) the same list of names (every one exists) goes through
  - veltrask-cli -t N --pause 0, names on standard input, and
  - adnshost -a -f, fed by this script so that N questions are outstanding
    at any time: one more name is written each time an answer comes back.
The runs alternate (veltrask, adnshost, veltrask, ...), REPEAT times each, in
one go; the median by wall time is shown with its CPU time and peak RSS.
adnshost's CPU and RSS are its own (wait4), without this script's feeding.
Every run's output is checked against the zone's addresses.

--old-cli adds the same rows for an older build (e.g. before the sockets were
kept across lookups). The TCP-fallback rows use dnsmasq with a 45-record
name: once with EDNS0 answers of up to 1232 bytes (one datagram), once with
--edns-packet-max=512, which truncates the reply and sends every lookup over
TCP.
"""
import argparse
import os
import re
import selectors
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_data  # noqa: E402
from e2e_bench import (BenchError, NsdServer, Run, check_addresses, free_udp_port, load_average,  # noqa: E402
                       machine_text, port_free, read_lines, table, timed)


def veltrask(cli, label, port, path, expected, threads, work, extra=()):
    out = os.path.join(work, "out.txt")
    run = Run(label, len(read_lines(path)), threads, 0)
    run.wall, run.user, run.sys, run.rss_kb = timed(
        [cli, "-q", "--dns", "127.0.0.1:%d" % port, "-t", str(threads), "--pause", "0"] + list(extra),
        path, out, work)
    run.check = check_addresses(read_lines(out), expected) if expected is not None else "ok"
    run.lines = len(read_lines(out))
    return run


def adnshost_inflight(path, expected, inflight):
    """adnshost -a -f with INFLIGHT questions outstanding."""
    with open(path) as f:
        names = [ln.strip() for ln in f if ln.strip()]
    run = Run("adnshost", len(names), inflight, 0)
    cmd = ["adnshost", "+e", "--config", "nameserver 127.0.0.2", "-Vq", "-a", "-Fa", "+Do", "+Dt", "-t", "a", "-f"]
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
    sel = selectors.DefaultSelector()
    sel.register(proc.stdout, selectors.EVENT_READ)
    sent = done = 0
    pending_rrs = 0
    addrs = []
    buf = b""

    def feed(count):
        nonlocal sent
        chunk = names[sent:sent + count]
        if chunk:
            proc.stdin.write(("\n".join(chunk) + "\n").encode())
            sent += len(chunk)
        if sent == len(names) and not proc.stdin.closed:
            proc.stdin.close()

    feed(inflight)
    while done < len(names):
        if not sel.select(timeout=120):
            proc.kill()
            raise BenchError("adnshost gave no answer for 120 s (%d of %d)" % (done, len(names)))
        data = os.read(proc.stdout.fileno(), 1 << 16)
        if not data:
            break
        buf += data
        lines = buf.split(b"\n")
        buf = lines.pop()
        answered = 0
        for ln in lines:
            if pending_rrs:
                addrs.append(ln.decode().strip())
                pending_rrs -= 1
                continue
            # "<id> <nrrs> <status> ...": the first line of every answer.
            parts = ln.split()
            if len(parts) >= 2 and parts[0].isdigit() and parts[1].isdigit():
                pending_rrs = int(parts[1])
                done += 1
                answered += 1
        if answered:
            feed(answered)
    if not proc.stdin.closed:
        proc.stdin.close()
    _, status, usage = os.wait4(proc.pid, 0)
    run.wall = time.monotonic() - start
    run.user, run.sys, run.rss_kb = usage.ru_utime, usage.ru_stime, usage.ru_maxrss
    run.check = check_addresses([a for a in addrs if re.fullmatch(r"\d+\.\d+\.\d+\.\d+", a)], expected)
    if done < len(names):
        run.check = "INCOMPLETE: %d of %d answered" % (done, len(names))
    return run


class Dnsmasq:
    def __init__(self, work, hosts, port, extra):
        self.proc = subprocess.Popen(
            ["dnsmasq", "--conf-file=/dev/null", "--keep-in-foreground", "--no-resolv", "--no-hosts",
             "--addn-hosts=" + hosts, "--port=%d" % port, "--listen-address=127.0.0.1", "--bind-interfaces",
             "--pid-file=", "--cache-size=0", "--user=root", "--group=root", "--log-facility=-"] + list(extra),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        for _ in range(100):
            r = subprocess.run(["dig", "@127.0.0.1", "-p", str(port), "+short", "+time=1", "+tries=1",
                                "tcp45.vt.test", "A"], capture_output=True, text=True)
            if r.stdout.strip():
                return
            time.sleep(0.1)
        raise BenchError("dnsmasq did not answer")

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=20)


def median(runs):
    bad = [r for r in runs if r.check != "ok"]
    return bad[0] if bad else sorted(runs, key=lambda r: r.wall)[(len(runs) - 1) // 2]


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--cli", required=True, help="the veltrask-cli binary (a Release build)")
    p.add_argument("--old-cli", help="an older veltrask-cli to measure beside it")
    p.add_argument("--names", type=int, default=1000000, help="names per run (default 1,000,000)")
    p.add_argument("--zone-names", type=int, default=100000)
    p.add_argument("--inflight", type=int, nargs="+", default=[64, 500])
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument("--tcp-lookups", type=int, default=2000)
    p.add_argument("--output", help="also write the report to this file")
    a = p.parse_args()
    if os.geteuid() != 0:
        sys.exit("run as root: the server must bind port 53 of 127.0.0.2 for adnshost")
    if not port_free("127.0.0.2", 53):
        sys.exit("127.0.0.2:53 is taken; adnshost needs it for the server")
    for tool in ("nsd", "adnshost", "dnsmasq", "dig"):
        if not shutil.which(tool):
            sys.exit("missing: %s (bench/e2e/install_deps.sh)" % tool)

    work = tempfile.mkdtemp(prefix="vt-inflight-")
    started = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
    loads = [load_average()]
    zone = os.path.join(work, gen_data.ZONE + ".zone")
    gen_data.write_zone(zone, a.zone_names)
    lines, expected = gen_data.make_list(a.names, a.zone_names, 0, seed=a.names)
    expected.sort()
    path = os.path.join(work, "names.txt")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    port = free_udp_port("127.0.0.1")
    server = NsdServer(work, zone, port)
    rows = {}
    try:
        server.start(gen_data.host_name(0))
        clis = [("veltrask-cli", a.cli)] + ([("veltrask-cli (old)", a.old_cli)] if a.old_cli else [])
        for rep in range(a.repeat):
            for n in a.inflight:
                for label, cli in clis:
                    print("run %d: %s -t %d" % (rep + 1, label, n), flush=True)
                    rows.setdefault((label, n), []).append(veltrask(cli, label, port, path, expected, n, work))
                print("run %d: adnshost, %d in flight" % (rep + 1, n), flush=True)
                rows.setdefault(("adnshost", n), []).append(adnshost_inflight(path, expected, n))
            loads.append(load_average())
    finally:
        server.stop()

    # TCP fallback on one 45-record name.
    hosts = os.path.join(work, "hosts")
    with open(hosts, "w") as f:
        for i in range(45):
            f.write("10.45.0.%d tcp45.vt.test\n" % (i + 1))
    tcp_path = os.path.join(work, "tcp45.txt")
    with open(tcp_path, "w") as f:
        f.write("tcp45.vt.test\n" * a.tcp_lookups)
    tcp_rows = []
    for label, extra in (("UDP, EDNS0 (one datagram)", []), ("TCP fallback (--edns-packet-max=512)",
                                                             ["--edns-packet-max=512"])):
        dport = free_udp_port("127.0.0.1")
        d = Dnsmasq(work, hosts, dport, extra)
        try:
            runs = []
            for _ in range(a.repeat):
                r = veltrask(a.cli, label, dport, tcp_path, None, 8, work)
                r.check = "ok" if r.lines == 45 * a.tcp_lookups else "WRONG: %d lines" % r.lines
                runs.append(r)
            tcp_rows.append(median(runs))
        finally:
            d.stop()
    shutil.rmtree(work, ignore_errors=True)

    out = ["Machine: " + machine_text(), "Started: %s; load average before and after each round: %s"
           % (started, " / ".join(loads)),
           "%s names a run (every one in the zone, %s distinct), pause 0, median of %d runs by wall time"
           % ("{:,}".format(a.names), "{:,}".format(min(a.names, a.zone_names)), a.repeat), ""]
    header = ["Resolver", "In flight", "Wall s", "CPU s", "CPU / adnshost", "Wall / adnshost", "Peak RSS MB",
              "Check", "All runs wall / CPU"]
    body = []
    for n in a.inflight:
        adns = median(rows[("adnshost", n)])
        for label in [c[0] for c in clis] + ["adnshost"]:
            r = median(rows[(label, n)])
            body.append([label, n, "%.2f" % r.wall, "%.2f" % r.cpu, "%.2f" % (r.cpu / adns.cpu),
                         "%.2f" % (r.wall / adns.wall), "%.1f" % (r.rss_kb / 1024.0), r.check,
                         ", ".join("%.2f/%.2f" % (x.wall, x.cpu) for x in rows[(label, n)])])
    out.append(table(header, body))
    out += ["", "TCP fallback: %d lookups of a 45-record name, veltrask-cli -t 8 --pause 0, dnsmasq:" % a.tcp_lookups]
    out.append(table(["Path", "Wall s", "CPU s", "ms CPU / lookup", "Check"],
                 [[r.label, "%.2f" % r.wall, "%.2f" % r.cpu, "%.3f" % (r.cpu * 1000 / a.tcp_lookups), r.check]
                  for r in tcp_rows]))
    text = "\n".join(out) + "\n"
    print(text)
    if a.output:
        with open(a.output, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
