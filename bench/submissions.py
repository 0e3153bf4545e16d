#!/usr/bin/python3
"""Submission benchmark: the gateway against a trivial CGI floor and a one-mail CGI floor, the
gateway in server mode (each submission forwarded to a resident request server), and the gateway
as a resident FastCGI application behind the same web server (lighttpd with mod_fastcgi).

Everything runs on 127.0.0.1: lighttpd (mod_cgi) with the sample site, postfix's smtp-sink as
the mail server, wrk as the load. For each program and each connection count it prints
submissions per second, mean latency and CPU seconds per submission (the CGI processes' CPU,
read from lighttpd's reaped-children counters); then the peak resident memory of one gateway
process for a url-encoded post and for 1 KB and 90 KB uploads, and the ratios to the floors.
The CGI mail floor and the gateway are measured in alternating rounds, and their targets are
judged on the median of the rounds' ratios.
The FastCGI rows count the resident process's own CPU; its resident memory is compared after
1,000 submissions and after BREVIX_BENCH_RSS_SUBMISSIONS (default 100,000).
"""
import os
import re
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SITE_SH = os.path.join(REPO, "deploy", "site.sh")
GATEWAY = os.environ.get("BREVIX_GATEWAY", os.path.join(REPO, "build", "bin", "brevix.cgi"))
SECONDS = int(sys.argv[1]) if len(sys.argv) > 1 else 10
RSS_SUBMISSIONS = int(os.environ.get("BREVIX_BENCH_RSS_SUBMISSIONS", "100000"))
# The CGI mail floor and the gateway alternate in this many rounds (see cgi_mode_rounds).
CGI_ROUNDS = 6

# The sample form's fields (deploy/sample/www/form.html), complete, so that every submission
# is answered with the thank-you page after its results record and its mail.
FIELDS = ("mail_subject=Brochure+request+from+%25namereq%25&namereq=Anna+M%C3%BCller"
          "&mail_from=anna%40example.org&company=Example+Ltd&interests=Printed+brochure"
          "&interests=Newsletter&comments=Please+send+me+the+brochure.")


def free_ports(n):
    out = subprocess.check_output(["/usr/bin/python3", os.path.join(REPO, "scripts", "free_port.py"), str(n)])
    return [int(p) for p in out.split()]


def children_cpu(pid):
    """CPU seconds of the reaped children of `pid` (the CGI processes lighttpd started)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[13]) + int(fields[14])) / ticks  # cutime, cstime


def measure_cgi(server_pid, script, connections, lua, seconds=None):
    """wrk on a CGI script, with the CPU seconds its CGI processes took (lighttpd's children)."""
    before = children_cpu(server_pid)
    total, rate, latency, errors = wrk(script, connections, lua, seconds)
    time.sleep(0.2)
    return total, rate, latency, errors, children_cpu(server_pid) - before


def wrk(url, connections, lua, seconds=None):
    out = subprocess.check_output(
        ["wrk", "-t1", f"-c{connections}", f"-d{seconds or SECONDS}s", "--latency", "-s", lua, url],
        text=True)
    total = int(re.search(r"(\d+) requests in", out).group(1))
    rate = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    lat = re.search(r"Latency\s+([\d.]+)(us|ms|s)", out)
    latency_ms = float(lat.group(1)) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[lat.group(2)]
    errors = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    return total, rate, latency_ms, int(errors.group(1)) if errors else 0


def peak_rss_kib(launcher, argv, env, stdin_bytes, cwd):
    """Peak resident set of one process, measured by the small C launcher (peak_rss.c)."""
    out = subprocess.run([launcher] + argv, input=stdin_bytes, env=env, cwd=cwd,
                         capture_output=True, check=True)
    return int(re.findall(rb"peak_rss_kib=(\d+)", out.stderr)[-1])


def process_cpu(pid):
    """CPU seconds that process `pid` itself has used so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")  # utime, stime


def set_ini(cgi, key, value):
    """Sets (or adds) one key of the [Options] section of the site's brevix.ini."""
    ini = os.path.join(cgi, "brevix.ini")
    with open(ini, newline="") as f:
        lines = f.read().split("\r\n")
    lines = [line for line in lines if not line.lower().startswith(key.lower() + "=")]
    at = next(i for i, line in enumerate(lines) if line.strip().lower() == "[options]") + 1
    lines.insert(at, f"{key}={value}")
    with open(ini, "w", newline="") as f:
        f.write("\r\n".join(lines))


def check_sends(url):
    """Fails unless a submission of FIELDS to `url` is answered with the thank-you page: a
    benchmark of the missing-information page would measure a submission that sends nothing."""
    answer = urllib.request.urlopen(urllib.request.Request(url, data=FIELDS.encode()), timeout=60).read()
    if b"<title>Thank you" not in answer:
        raise RuntimeError(f"{url} did not send the sample submission: {answer[:300]!r}")


def start_request_server(cgi, url):
    """Switches the site to server mode; the first submission starts the request server, which
    then serves every submission. Returns the server's process id (from its marker file)."""
    set_ini(cgi, "CGI_Mode", "Server")
    marker = os.path.join(cgi, "Temp", "brevix.cgi_s")
    urllib.request.urlopen(urllib.request.Request(url, data=FIELDS.encode()), timeout=60).read()
    for _ in range(100):
        try:
            with open(marker) as f:
                return int(f.read().split()[0])
        except (OSError, ValueError, IndexError):
            time.sleep(0.1)
    raise RuntimeError("the request server did not start")


def stop_request_server(cgi, pid):
    """Stops the request server and switches the site back to one process per submission."""
    set_ini(cgi, "CGI_Mode", "Normal")
    os.kill(pid, signal.SIGTERM)
    for _ in range(100):
        if not os.path.exists(f"/proc/{pid}"):
            return
        time.sleep(0.1)


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


def floor_processes_cpu(name):
    """CPU seconds used so far by the resident floor's processes (lighttpd started them)."""
    total = 0.0
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/comm") as f:
                if f.read().strip() != name[:15]:
                    continue
            total += process_cpu(int(entry))
        except OSError:
            continue
    return total


def cgi_mode_rounds(server_pid, floor_script, gateway_script, lua, rows):
    """The CGI mail floor and the gateway measured in alternating short rounds (each side first
    in every other round), so that a change of load on a shared machine falls on both sides
    alike: a run of each side in one piece put minutes between them. Fills rows with the totals
    of all rounds and returns, per connection count, each round's (latency, CPU) ratio of the
    gateway to the floor."""
    seconds = max(2, SECONDS * 2 // CGI_ROUNDS)
    ratios = {}
    for connections in (1, 4):
        sums = {label: [0, 0.0, 0.0, 0.0, 0] for label in ("mail floor", "gateway")}
        ratios[connections] = []
        for round_number in range(CGI_ROUNDS):
            order = [("mail floor", floor_script), ("gateway", gateway_script)]
            if round_number % 2:
                order.reverse()
            measured = {}
            for label, script in order:
                total, rate, latency, errors, cpu = measure_cgi(server_pid, script, connections,
                                                                lua, seconds)
                measured[label] = (latency, cpu / max(total, 1))
                totals = sums[label]
                totals[0] += total
                totals[1] += seconds
                totals[2] += latency * total
                totals[3] += cpu
                totals[4] += errors
            (g_latency, g_cpu), (f_latency, f_cpu) = measured["gateway"], measured["mail floor"]
            ratios[connections].append((g_latency / f_latency, g_cpu / max(f_cpu, 1e-9)))
        for label, (total, spent, latency_sum, cpu, errors) in sums.items():
            rows[(label, connections)] = (total / spent, latency_sum / max(total, 1),
                                          cpu / max(total, 1), errors)
    return ratios


def fastcgi_rows(site, web_port, url, floor_url, lua, rows):
    """Restarts the site behind lighttpd + mod_fastcgi with the gateway resident and the resident
    floor beside it, adds their rows (the resident processes' CPU per submission), each
    connection count measuring the floor, the gateway and the gateway with SMTP_Keep_Alive=0
    back to back, and returns the gateway's resident memory after about 1,000 submissions and
    after RSS_SUBMISSIONS, with the two submission counts."""
    subprocess.check_call([SITE_SH, "stop", site])
    subprocess.check_call([SITE_SH, "start", "lighttpd-fastcgi", site, str(web_port)])
    with open(os.path.join(site, "run", "brevix-fastcgi.pid")) as f:
        gateway_pid = int(f.read())
    check_sends(url)
    urllib.request.urlopen(urllib.request.Request(floor_url, data=FIELDS.encode()), timeout=60).read()
    cgi = os.path.join(site, "cgi-bin")
    done = 0
    while done < 1000:
        done += wrk(url, 4, lua, seconds=1)[0]
    early = (done, resident_kib(gateway_pid))
    for connections in (1, 4):
        for label in ("resident floor", "fastcgi", "fastcgi no keep"):
            if label != "resident floor":
                set_ini(cgi, "SMTP_Keep_Alive", "0" if label == "fastcgi no keep" else "1")
                check_sends(url)
            cpu = (lambda: floor_processes_cpu("floor_mail.fcgi")) if label == "resident floor" \
                else (lambda: process_cpu(gateway_pid))
            before = cpu()
            total, rate, latency, errors = wrk(floor_url if label == "resident floor" else url,
                                               connections, lua)
            if label != "resident floor":
                done += total
            rows[(label, connections)] = (rate, latency, (cpu() - before) / max(total, 1), errors)
    set_ini(cgi, "SMTP_Keep_Alive", "1")
    while done < RSS_SUBMISSIONS:
        done += wrk(url, 4, lua, seconds=10)[0]
    return early, (done, resident_kib(gateway_pid))


def multipart(size):
    boundary = "----benchboundary7MA4YWxkTrZu0gW"
    data = bytes((i * 7 + 3) % 256 for i in range(size))
    parts = []
    for name, value in (("namereq", "Anna"), ("mail_from", "anna@example.org")):
        parts.append(f"--{boundary}\r\nContent-Disposition: form-data; name=\"{name}\"\r\n\r\n{value}\r\n".encode())
    parts.append(f"--{boundary}\r\nContent-Disposition: form-data; name=\"file\"; filename=\"data.bin\"\r\n"
                 "Content-Type: application/octet-stream\r\n\r\n".encode() + data + b"\r\n")
    parts.append(f"--{boundary}--\r\n".encode())
    return f"multipart/form-data; boundary={boundary}", b"".join(parts)


def main():
    work = tempfile.mkdtemp(prefix="brevix-bench-")
    os.chmod(work, 0o755)
    site = os.path.join(work, "site")
    web_port, smtp_port = free_ports(2)
    sink = subprocess.Popen(["smtp-sink"] + (["-u", "nobody"] if os.getuid() == 0 else []) +
                            ["-c", f"127.0.0.1:{smtp_port}", "256"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # Without the anti-spam guard: wrk posts no solutions (bench/pow_cost.py measures it).
        subprocess.check_call([SITE_SH, "setup", site, GATEWAY, str(smtp_port)],
                              env={**os.environ, "BREVIX_POW_KEY": ""})
        cgi = os.path.join(site, "cgi-bin")
        # One mail per submission, as the floors send: no receipt to the visitor.
        ini = os.path.join(cgi, "brevix.ini")
        with open(ini, newline="") as f:
            lines = f.read().split("\r\n")
        lines = ["Receipt_Text=" if line.lower().startswith("receipt_text=") else line for line in lines]
        with open(ini, "w", newline="") as f:
            f.write("\r\n".join(lines))
        # The floors live beside the gateway's folder, which serves nothing but the gateway.
        floors = os.path.join(site, "floor")
        os.makedirs(floors, exist_ok=True)
        mail = ["-DWITH_MAIL", f"-DSMTP_PORT={smtp_port}"]
        for name, extra in (("floor.cgi", []), ("floor_mail.cgi", mail),
                            ("floor_mail.fcgi", mail + ["-DFASTCGI"])):
            subprocess.check_call(["cc", "-O2", "-o", os.path.join(floors, name), *extra,
                                   os.path.join(REPO, "bench", "floor_cgi.c")] +
                                  (["-lfcgi"] if "-DFASTCGI" in extra else []))
        with open(os.path.join(site, "conf", "lighttpd-local.conf"), "w") as f:
            f.write(f'alias.url += ( "/floor/" => "{floors}/" )\n'
                    '$HTTP["url"] =~ "^/floor/" {\n    cgi.assign = ( ".cgi" => "" )\n}\n')
        # The resident floor: 4 single-threaded responders that lighttpd starts and keeps.
        with open(os.path.join(site, "conf", "lighttpd-fastcgi-local.conf"), "w") as f:
            f.write('fastcgi.server += ( "/floor/floor_mail.fcgi" => ((\n'
                    f'    "socket" => "{site}/run/fcgi/floor.sock",\n'
                    f'    "bin-path" => "{floors}/floor_mail.fcgi",\n'
                    '    "max-procs" => 4, "min-procs" => 4,\n'
                    '    "check-local" => "disable"\n)) )\n')
        subprocess.check_call([SITE_SH, "start", "lighttpd", site, str(web_port)])
        with open(os.path.join(site, "run", "lighttpd.pid")) as f:
            server_pid = int(f.read())
        lua = os.path.join(work, "post.lua")
        with open(lua, "w") as f:
            f.write('wrk.method = "POST"\n'
                    'wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"\n'
                    f'wrk.body = "{FIELDS}"\n')

        rows = {}
        server_cpu = {}
        url = f"http://127.0.0.1:{web_port}/cgi-bin/"
        floor_url = f"http://127.0.0.1:{web_port}/floor/"
        check_sends(url + "brevix.cgi")
        cgi_rounds = cgi_mode_rounds(server_pid, floor_url + "floor_mail.cgi", url + "brevix.cgi",
                                     lua, rows)
        for label, script in (("trivial floor", floor_url + "floor.cgi"),
                              ("forwarded", url + "brevix.cgi")):
            if label == "forwarded":
                request_server = start_request_server(cgi, script)
            for connections in (1, 4):
                server_before = process_cpu(request_server) if label == "forwarded" else 0
                total, rate, latency, errors, cpu = measure_cgi(server_pid, script, connections, lua)
                rows[(label, connections)] = (rate, latency, cpu / max(total, 1), errors)
                if label == "forwarded":
                    server_cpu[connections] = (process_cpu(request_server) - server_before) / max(total, 1)
        stop_request_server(cgi, request_server)
        memory = fastcgi_rows(site, web_port, url + "brevix.cgi", floor_url + "floor_mail.fcgi", lua,
                              rows)

        print(f"\nSubmissions through lighttpd, {SECONDS} s per run, 8 fields, one mail each")
        print(f"{'program':<15}{'conns':>6}{'subm/s':>10}{'mean ms':>10}{'CPU ms/subm':>13}{'errors':>8}")
        for (label, connections), (rate, latency, cpu, errors) in rows.items():
            if label == "forwarded":
                cpu += server_cpu[connections]
            print(f"{label:<15}{connections:>6}{rate:>10.1f}{latency:>10.2f}{cpu * 1000:>13.2f}{errors:>8}")
        print("(forwarded: CGI_Mode=Server, the request server already running; its CPU is the\n"
              " forwarding processes' plus the request server's)")
        for connections in (1, 4):
            d = rows[("gateway", connections)]
            f = rows[("forwarded", connections)]
            print(f"forwarded/direct at {connections} conn: rate x{f[0] / d[0]:.2f}, latency "
                  f"x{f[1] / d[1]:.2f}; forwarder {f[2] * 1000:.2f} ms CPU + server "
                  f"{server_cpu[connections] * 1000:.2f} ms CPU per submission "
                  f"(direct {d[2] * 1000:.2f} ms)")
        print("(fastcgi: lighttpd + mod_fastcgi to one resident brevix.cgi --fastcgi, 4 threads;\n"
              " its CPU is the resident process's)")
        for connections in (1, 4):
            g = rows[("gateway", connections)]
            for floor in ("trivial floor", "mail floor"):
                f = rows[(floor, connections)]
                print(f"gateway/{floor} at {connections} conn: latency x{g[1] / f[1]:.2f}, "
                      f"CPU x{g[2] / max(f[2], 1e-9):.2f}")
        m = rows[("mail floor", 1)]
        print(f"CGI mode CPU per submission / mail floor (target at most x1.3): "
              f"x{rows[('gateway', 1)][2] / max(m[2], 1e-9):.2f} at 1 conn, "
              f"x{rows[('gateway', 4)][2] / max(rows[('mail floor', 4)][2], 1e-9):.2f} at 4 conn")
        for connections in (1, 4):
            fc = rows[("fastcgi", connections)]
            g = rows[("gateway", connections)]
            print(f"fastcgi/CGI mode at {connections} conn: rate x{fc[0] / g[0]:.2f}"
                  f"{' (target at least x5)' if connections == 4 else ''}, "
                  f"CPU per submission x{fc[2] / max(g[2], 1e-9):.2f}")
        print("(resident floor: floor_cgi.c as 4 single-threaded FastCGI responders under the same\n"
              " lighttpd, a new SMTP connection per submission; fastcgi no keep: SMTP_Keep_Alive=0;\n"
              " each pair of rows below was measured back to back in this run, under the same load)")
        print("Targets (one run, both sides under the same load):")
        for connections in (1, 4):
            fc = rows[("fastcgi", connections)]
            fl = rows[("resident floor", connections)]
            nk = rows[("fastcgi no keep", connections)]
            print(f"  fastcgi/resident floor at {connections} conn: rate x{fc[0] / fl[0]:.2f}"
                  f"{' (target at least x0.9)' if connections == 4 else ''}, CPU per submission "
                  f"x{fc[2] / max(fl[2], 1e-9):.2f}{' (target at most x1.4)' if connections == 4 else ''}"
                  f"; kept connection vs one per mail: rate x{fc[0] / nk[0]:.2f}, CPU x{fc[2] / max(nk[2], 1e-9):.2f}")
        for connections in (1, 4):
            latency, cpu = zip(*cgi_rounds[connections])
            print(f"  CGI mode/CGI mail floor at {connections} conn, median of {len(latency)} "
                  f"alternating rounds: latency x{statistics.median(latency):.2f} "
                  f"(x{min(latency):.2f}-{max(latency):.2f}; target at most x1.2), "
                  f"CPU x{statistics.median(cpu):.2f} (x{min(cpu):.2f}-{max(cpu):.2f}; "
                  f"target at most x1.3)")
        (n1, rss1), (n2, rss2) = memory
        print(f"fastcgi resident memory: {rss1 / 1024:.2f} MiB after {n1} submissions, "
              f"{rss2 / 1024:.2f} MiB after {n2} (x{rss2 / rss1:.3f}; target at most x1.10)")

        env = {"GATEWAY_INTERFACE": "CGI/1.1", "SERVER_SOFTWARE": "bench", "REQUEST_METHOD": "POST",
               "SCRIPT_NAME": "/cgi-bin/brevix.cgi", "REMOTE_ADDR": "127.0.0.1",
               "CONTENT_TYPE": "application/x-www-form-urlencoded", "CONTENT_LENGTH": str(len(FIELDS))}
        gateway = os.path.join(cgi, "brevix.cgi")
        launcher = os.path.join(work, "peak_rss")
        subprocess.check_call(["cc", "-O2", "-o", launcher, os.path.join(REPO, "bench", "peak_rss.c")])
        print("\nPeak resident memory of one gateway process")
        print(f"  url-encoded post:  {peak_rss_kib(launcher, [gateway], env, FIELDS.encode(), cgi) / 1024:.2f} MiB")
        for size in (1024, 90 * 1024):
            ctype, body = multipart(size)
            upload_env = dict(env, CONTENT_TYPE=ctype, CONTENT_LENGTH=str(len(body)))
            rss = peak_rss_kib(launcher, [gateway], upload_env, body, cgi)
            print(f"  {size // 1024:>3} KB upload:     {rss / 1024:.2f} MiB")
    finally:
        subprocess.call([SITE_SH, "stop", site])
        sink.terminate()
        sink.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
