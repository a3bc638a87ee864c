#!/usr/bin/env python3
"""A small home network inside network namespaces for the UPnP tests.

    upnp_lab.py up PREFIX DIR --gateway miniupnpd|miniupnpd-private|fake|none [--scenario FILE]
    upnp_lab.py down PREFIX DIR
    upnp_lab.py stun ADDRESS   (run inside the ISP namespace: the STUN responder)

Three namespaces joined by veth pairs:
    PREFIX-c  the PC        lan0 192.168.77.2/24, default route via the gateway
    PREFIX-g  the router    lan0 192.168.77.1/24, wan0 10.77.0.1/24, forwarding on
    PREFIX-i  the "ISP"     wan0 10.77.0.2/24, with a STUN responder on UDP 3478
The router runs miniupnpd (nftables, its own table) or the fake gateway, or nothing. miniupnpd
learns its public address by STUN; "miniupnpd-private" runs it without, so that it sees only its
private WAN address, as a router behind another NAT does.
Daemons' pids go to DIR/pids; their output to DIR/*.log. Nothing leaves the namespaces.
"""
import os
import signal
import socket
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CLIENT_IP, GATEWAY_LAN_IP, GATEWAY_WAN_IP, ISP_IP = "192.168.77.2", "192.168.77.1", "10.77.0.1", "10.77.0.2"
PUBLIC_IP = "198.51.100.7"  # what the STUN responder reports: a documentation address

NFT_RULES = """
table inet filter {
    chain forward {
        type filter hook forward priority 0; policy drop;
        ct state established,related accept
        iifname "lan0" oifname "wan0" accept
        jump miniupnpd
    }
    chain miniupnpd {
    }
    chain prerouting {
        type nat hook prerouting priority -100; policy accept;
        jump prerouting_miniupnpd
    }
    chain postrouting {
        type nat hook postrouting priority 100; policy accept;
        jump postrouting_miniupnpd
    }
    chain prerouting_miniupnpd {
    }
    chain postrouting_miniupnpd {
    }
}
"""

MINIUPNPD_CONF = """ext_ifname=wan0
listening_ip=lan0
port=5000
enable_natpmp=no
enable_upnp=yes
secure_mode=no
system_uptime=yes
notify_interval=60
clean_ruleset_interval=0
uuid=3d3cec3a-8cf0-11e0-98ee-001a6bd2d07b
{stun}
lease_file={dir}/leases
allow 1024-65535 192.168.77.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
"""


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def in_ns(ns, *args):
    run("ip", "netns", "exec", ns, *args)


def start(directory, name, ns, args):
    log = open(os.path.join(directory, name + ".log"), "wb")
    proc = subprocess.Popen(["ip", "netns", "exec", ns] + args, stdout=log, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL, start_new_session=True)
    with open(os.path.join(directory, "pids"), "a") as f:
        f.write("%d\n" % proc.pid)
    return proc


def wait_for(predicate, seconds, what):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return
        time.sleep(0.05)
    raise RuntimeError("timed out waiting for " + what)


def log_has(directory, name, text):
    try:
        with open(os.path.join(directory, name + ".log"), "rb") as f:
            return text.encode() in f.read()
    except OSError:
        return False


def up(prefix, directory, gateway, scenario):
    client, router, isp = prefix + "-c", prefix + "-g", prefix + "-i"
    for ns in (client, router, isp):
        run("ip", "netns", "add", ns)
        run("ip", "-n", ns, "link", "set", "lo", "up")
    run("ip", "-n", client, "link", "add", "lan0", "type", "veth", "peer", "name", "lan0", "netns", router)
    run("ip", "-n", router, "link", "add", "wan0", "type", "veth", "peer", "name", "wan0", "netns", isp)
    for ns, dev, addr in ((client, "lan0", CLIENT_IP), (router, "lan0", GATEWAY_LAN_IP),
                          (router, "wan0", GATEWAY_WAN_IP), (isp, "wan0", ISP_IP)):
        run("ip", "-n", ns, "addr", "add", addr + "/24", "dev", dev)
        run("ip", "-n", ns, "link", "set", dev, "up")
    run("ip", "-n", client, "route", "add", "default", "via", GATEWAY_LAN_IP)
    in_ns(router, "sysctl", "-qw", "net.ipv4.ip_forward=1")

    if gateway in ("miniupnpd", "miniupnpd-private"):
        nft = subprocess.run(["ip", "netns", "exec", router, "nft", "-f", "-"], input=NFT_RULES.encode(),
                             stderr=subprocess.PIPE)
        if nft.returncode != 0:
            raise RuntimeError("nft: " + nft.stderr.decode())
        start(directory, "stun", isp, [sys.executable, os.path.abspath(__file__), "stun", PUBLIC_IP])
        wait_for(lambda: log_has(directory, "stun", "ready"), 10, "the STUN responder")
        conf = os.path.join(directory, "miniupnpd.conf")
        with open(conf, "w") as f:
            stun = "ext_perform_stun=yes\next_stun_host=%s\next_stun_port=3478" % ISP_IP
            f.write(MINIUPNPD_CONF.format(stun=stun if gateway == "miniupnpd" else "", dir=directory))
        start(directory, "miniupnpd", router,
              ["miniupnpd", "-d", "-f", conf, "-P", os.path.join(directory, "miniupnpd.pid")])
        ready = "Port forwarding is now enabled" if gateway == "miniupnpd" else "HTTP listening on port"
        wait_for(lambda: log_has(directory, "miniupnpd", ready), 20, "miniupnpd")
    elif gateway == "fake":
        start(directory, "fake", router,
              [sys.executable, os.path.join(HERE, "upnp_fake_gateway.py"), GATEWAY_LAN_IP, scenario,
               os.path.join(directory, "calls.jsonl")])
        wait_for(lambda: log_has(directory, "fake", "ready"), 10, "the fake gateway")


def alive(pid):
    """True while the process runs; an exited one that nobody reaped yet counts as gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def down(prefix, directory):
    try:
        with open(os.path.join(directory, "pids")) as f:
            pids = [int(line) for line in f if line.strip()]
    except OSError:
        pids = []
    for pid in pids:
        try:
            os.killpg(pid, signal.SIGTERM)
        except OSError:
            pass
    end = time.time() + 5
    for pid in pids:
        while time.time() < end and alive(pid):
            time.sleep(0.02)
        if alive(pid):
            try:
                os.killpg(pid, signal.SIGKILL)
            except OSError:
                pass
    for suffix in ("-c", "-g", "-i"):
        subprocess.run(["ip", "netns", "del", prefix + suffix], stderr=subprocess.DEVNULL)


def stun(public_ip):
    """Answers every STUN Binding request with the public address and the request's own port."""
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("0.0.0.0", 3478))
    print("ready", flush=True)
    cookie = 0x2112A442
    addr_bytes = socket.inet_aton(public_ip)
    while True:
        data, peer = sock.recvfrom(2048)
        if len(data) < 20 or struct.unpack("!H", data[:2])[0] != 0x0001:
            continue
        tid = data[4:20]
        port = peer[1]
        mapped = struct.pack("!HHBBH", 0x0001, 8, 0, 1, port) + addr_bytes
        xaddr = struct.pack("!I", struct.unpack("!I", addr_bytes)[0] ^ cookie)
        xor_mapped = struct.pack("!HHBBH", 0x0020, 8, 0, 1, port ^ (cookie >> 16)) + xaddr
        body = mapped + xor_mapped
        sock.sendto(struct.pack("!HH", 0x0101, len(body)) + tid + body, peer)


def main():
    command = sys.argv[1]
    if command == "stun":
        stun(sys.argv[2])
        return
    prefix, directory = sys.argv[2], sys.argv[3]
    if command == "down":
        down(prefix, directory)
        return
    gateway = sys.argv[sys.argv.index("--gateway") + 1]
    scenario = sys.argv[sys.argv.index("--scenario") + 1] if "--scenario" in sys.argv else ""
    try:
        up(prefix, directory, gateway, scenario)
    except (RuntimeError, subprocess.CalledProcessError) as e:
        detail = getattr(e, "stderr", b"") or b""
        print("lab set-up failed: %s %s" % (e, detail.decode(errors="replace")), file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
