#!/usr/bin/python3
"""Proof-of-work cost: the CPU a submission's gateway process spends with PoW_Key set (checking a
fresh solution: loading libcrypto, one hash, one HMAC, the used-challenge file) against the same
submission without it. Both send their mail to postfix's smtp-sink on 127.0.0.1; the gateway runs
as a CGI process per submission, as a web server would start it. Prints CPU ms per submission
for each, the difference and the ratio; the target is a difference under 1 ms.
    bench/pow_cost.py [submissions, default 300]
"""
import hashlib
import json
import base64
import os
import resource
import shutil
import socket
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GATEWAY = os.environ.get("BREVIX_GATEWAY", os.path.join(REPO, "build", "bin", "brevix.cgi"))
COUNT = int(sys.argv[1]) if len(sys.argv) > 1 else 300
BODY_FIELDS = "namereq=Anna&mail_from=anna%40example.org&comments=Please+send+the+brochure."


def free_port():
    out = subprocess.check_output(["/usr/bin/python3", os.path.join(REPO, "scripts", "free_port.py"), "1"])
    return int(out.split()[0])


def run(site, method, query="", body=""):
    env = {"GATEWAY_INTERFACE": "CGI/1.1", "SERVER_SOFTWARE": "bench", "REQUEST_METHOD": method,
           "QUERY_STRING": query, "REMOTE_ADDR": "127.0.0.1", "SCRIPT_NAME": "/cgi-bin/brevix.cgi",
           "CONTENT_TYPE": "application/x-www-form-urlencoded", "CONTENT_LENGTH": str(len(body)),
           "PATH": "/usr/bin:/bin"}
    out = subprocess.run([os.path.join(site, "brevix.cgi")], input=body.encode(), env=env,
                         cwd=site, capture_output=True, check=True).stdout.decode()
    return out.split("\r\n\r\n", 1)[1]


def solve(challenge):
    """The older protocol's puzzle: the number whose SHA-256 with the salt is the challenge."""
    for number in range(challenge["maxnumber"] + 1):
        if hashlib.sha256((challenge["salt"] + str(number)).encode()).hexdigest() == challenge["challenge"]:
            payload = {k: challenge[k] for k in ("algorithm", "challenge", "salt", "signature")}
            payload["number"] = number
            return base64.b64encode(json.dumps(payload).encode()).decode()
    raise RuntimeError("no solution")


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def measure(site, bodies):
    start = children_cpu()
    for body in bodies:
        answer = run(site, "POST", body=body)
        if "Thanks" not in answer:
            raise RuntimeError(f"the gateway did not send: {answer[:300]!r}")
    return (children_cpu() - start) / len(bodies) * 1000


def main():
    work = tempfile.mkdtemp(prefix="brevix-pow-bench-")
    port = free_port()
    # smtp-sink refuses to run as root without a user to become.
    sink = subprocess.Popen(["smtp-sink"] + (["-u", "nobody"] if os.getuid() == 0 else []) +
                            ["-c", f"127.0.0.1:{port}", "256"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):  # until the sink listens
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        sites = {}
        for name, key in (("without", ""), ("with", "bench-" + os.urandom(16).hex())):
            site = os.path.join(work, name)
            os.mkdir(site)
            shutil.copy(GATEWAY, os.path.join(site, "brevix.cgi"))
            with open(os.path.join(site, "thanks.htm"), "w") as f:
                f.write("Thanks")
            with open(os.path.join(site, "brevix.ini"), "w", newline="") as f:
                f.write(f"[Options]\r\nSMTP_Server=127.0.0.1\r\nSMTP_Port={port}\r\n"
                        "Mail_To=owner@example.org\r\nResponse_Page=thanks.htm\r\n"
                        f"PoW_Key={key}\r\nPoW_Max_Number=2000\r\n")
            sites[name] = site
        plain = [BODY_FIELDS] * COUNT
        solved = [BODY_FIELDS + "&altcha=" + solve(json.loads(run(sites["with"], "GET", "pow=challenge&protocol=1")))
                  .replace("+", "%2B").replace("/", "%2F").replace("=", "%3D") for _ in range(COUNT)]
        measure(sites["without"], plain[:20])  # warm the page cache
        without = measure(sites["without"], plain)
        with_pow = measure(sites["with"], solved)
        print(f"{COUNT} submissions each, CPU ms per submission (gateway process)")
        print(f"  without PoW_Key: {without:.3f}")
        print(f"  with PoW_Key:    {with_pow:.3f}  (a fresh solution checked and recorded)")
        extra = with_pow - without
        print(f"  the check adds {extra:.3f} ms (x{with_pow / without:.2f});"
              f" target under 1 ms: {'met' if extra < 1.0 else 'MISSED'}")
    finally:
        sink.terminate()
        sink.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
