#!/usr/bin/python3
"""Shared-state benchmark: the sample submission with brevix.ini's Database set (a PostgreSQL
cluster on a local socket) beside the same submission with the gateway's files, in CGI mode
(lighttpd mod_cgi, one connection per submission) and as a resident FastCGI gateway (lighttpd
mod_fastcgi, one kept connection per thread), with wrk at 1 and 4 connections. Prints
submissions per second and mean latency of each cell, and the database/files ratios.
Everything runs on 127.0.0.1 and in a temporary folder; the cluster is made and removed here.
"""
import os
import pwd
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import submissions as bench  # noqa: E402  (the site, wrk and sink helpers)


def pg_bin():
    versions = sorted(os.listdir("/usr/lib/postgresql"))
    return f"/usr/lib/postgresql/{versions[-1]}/bin/"


def as_nobody():
    # initdb and the server refuse root.
    if os.getuid() == 0:
        user = pwd.getpwnam("nobody")
        return lambda: (os.setgid(user.pw_gid), os.setuid(user.pw_uid))
    return None


def start_cluster(folder):
    os.makedirs(folder)
    os.chmod(folder, 0o755)  # the gateway's user reaches the socket in it
    if os.getuid() == 0:
        shutil.chown(folder, "nobody", "nogroup")
    run = dict(preexec_fn=as_nobody(), stdout=subprocess.DEVNULL)
    subprocess.check_call([pg_bin() + "initdb", "-D", folder + "/data", "-A", "trust", "-U",
                           "brevix", "-E", "UTF8", "--locale=C", "--no-sync"], **run)
    subprocess.check_call([pg_bin() + "pg_ctl", "-D", folder + "/data", "-l", folder + "/log", "-w",
                           "-o", f"-k {folder} -c listen_addresses= -F", "start"], **run)
    return f"host={folder} dbname=postgres user=brevix"


def stop_cluster(folder):
    subprocess.call([pg_bin() + "pg_ctl", "-D", folder + "/data", "-m", "fast", "-w", "stop"],
                    preexec_fn=as_nobody(), stdout=subprocess.DEVNULL)


def main():
    work = tempfile.mkdtemp(prefix="brevix-bench-db-")
    os.chmod(work, 0o755)
    site = os.path.join(work, "site")
    cluster = os.path.join(work, "pg")
    web_port, smtp_port = bench.free_ports(2)
    sink = subprocess.Popen(["smtp-sink"] + (["-u", "nobody"] if os.getuid() == 0 else []) +
                            ["-c", f"127.0.0.1:{smtp_port}", "256"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        database = start_cluster(cluster)
        subprocess.check_call([bench.SITE_SH, "setup", site, bench.GATEWAY, str(smtp_port)])
        cgi = os.path.join(site, "cgi-bin")
        bench.set_ini(cgi, "Receipt_Text", "")
        lua = os.path.join(work, "post.lua")
        with open(lua, "w") as f:
            f.write('wrk.method = "POST"\n'
                    'wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"\n'
                    f'wrk.body = "{bench.FIELDS}"\n')
        url = f"http://127.0.0.1:{web_port}/cgi-bin/brevix.cgi"
        rows = {}
        for mode, config in (("CGI", "lighttpd"), ("FastCGI", "lighttpd-fastcgi")):
            for store, value in (("files", ""), ("database", database)):
                bench.set_ini(cgi, "Database", value)
                subprocess.call([bench.SITE_SH, "stop", site], stdout=subprocess.DEVNULL)
                subprocess.check_call([bench.SITE_SH, "start", config, site, str(web_port)])
                bench.check_sends(url)
                for connections in (1, 4):
                    total, rate, latency, errors = bench.wrk(url, connections, lua)
                    rows[(mode, store, connections)] = (rate, latency, errors)

        print(f"\nThe sample submission, {bench.SECONDS} s per run: files against Database")
        print(f"{'mode':<9}{'store':<10}{'conns':>6}{'subm/s':>10}{'mean ms':>10}{'errors':>8}")
        for (mode, store, connections), (rate, latency, errors) in rows.items():
            print(f"{mode:<9}{store:<10}{connections:>6}{rate:>10.1f}{latency:>10.2f}{errors:>8}")
        for mode in ("CGI", "FastCGI"):
            for connections in (1, 4):
                d = rows[(mode, "database", connections)]
                f = rows[(mode, "files", connections)]
                print(f"{mode} database/files at {connections} conn: rate x{d[0] / f[0]:.2f}, "
                      f"latency x{d[1] / f[1]:.2f}")
    finally:
        subprocess.call([bench.SITE_SH, "stop", site])
        stop_cluster(cluster)
        sink.terminate()
        sink.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
