#!/usr/bin/env python3
"""A fake UPnP Internet gateway device for the cases a real router cannot be made to produce.

    upnp_fake_gateway.py LAN_IP SCENARIO.json CALLS.jsonl

It answers SSDP searches on LAN_IP and serves a device description and the WANIPConnection SOAP
actions on LAN_IP:5000. Every action is appended to CALLS.jsonl as {"action": ..., "args": {...}}.
The scenario (JSON, every key optional):
    external_ip              the public address it reports (default 198.51.100.9)
    empty_ip_after_listing   how many GetExternalIPAddress answers are empty once the table has been
                             listed (the library's own gateway check, earlier, always gets the address)
    refuse_add               a UPnP error code with which every AddPortMapping is refused
    table                    the mapping table: [{"port", "protocol", "client", "description"}]
"""
import http.server
import json
import re
import socket
import struct
import sys
import threading

SERVICE = "urn:schemas-upnp-org:service:WANIPConnection:1"
SSDP_ADDR, SSDP_PORT, HTTP_PORT = "239.255.255.250", 1900, 5000
UUID = "9a4b6f1e-0c1d-4e5f-8a9b-2b4c6d8e0f12"

DESCRIPTION = """<?xml version="1.0"?>
<root xmlns="urn:schemas-upnp-org:device-1-0">
<specVersion><major>1</major><minor>0</minor></specVersion>
<device>
<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>
<friendlyName>Fake router</friendlyName><manufacturer>test</manufacturer><modelName>fake</modelName>
<UDN>uuid:{uuid}</UDN>
<deviceList><device>
<deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>
<friendlyName>WAN</friendlyName><UDN>uuid:{uuid}-1</UDN>
<serviceList><service>
<serviceType>urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1</serviceType>
<serviceId>urn:upnp-org:serviceId:WANCommonIFC1</serviceId>
<controlURL>/ctl/CmnIfCfg</controlURL><eventSubURL>/evt/CmnIfCfg</eventSubURL><SCPDURL>/WANCfg.xml</SCPDURL>
</service></serviceList>
<deviceList><device>
<deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>
<friendlyName>WAN connection</friendlyName><UDN>uuid:{uuid}-2</UDN>
<serviceList><service>
<serviceType>{service}</serviceType>
<serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>
<controlURL>/ctl/IPConn</controlURL><eventSubURL>/evt/IPConn</eventSubURL><SCPDURL>/WANIPCn.xml</SCPDURL>
</service></serviceList>
</device></deviceList>
</device></deviceList>
</device>
</root>
""".format(uuid=UUID, service=SERVICE)

ENVELOPE = ('<?xml version="1.0"?>\r\n<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>{}</s:Body></s:Envelope>\r\n')


class Gateway:
    def __init__(self, scenario, calls_path):
        self.lock = threading.Lock()
        self.external_ip = scenario.get("external_ip", "198.51.100.9")
        self.empty_left = scenario.get("empty_ip_after_listing", 0)
        self.refuse_add = scenario.get("refuse_add", 0)
        self.table = list(scenario.get("table", []))
        self.listed = False
        self.calls_path = calls_path

    def record(self, action, args):
        with open(self.calls_path, "a") as f:
            f.write(json.dumps({"action": action, "args": args}, sort_keys=True) + "\n")

    def act(self, action, a):
        """Returns (error code or 0, reply arguments)."""
        if action == "GetStatusInfo":
            return 0, [("NewConnectionStatus", "Connected"), ("NewLastConnectionError", "ERROR_NONE"),
                       ("NewUptime", "1000")]
        if action == "GetConnectionTypeInfo":
            return 0, [("NewConnectionType", "IP_Routed"), ("NewPossibleConnectionTypes", "IP_Routed")]
        if action == "GetExternalIPAddress":
            if self.listed and self.empty_left > 0:
                self.empty_left -= 1
                return 0, [("NewExternalIPAddress", "")]
            return 0, [("NewExternalIPAddress", self.external_ip)]
        if action == "GetGenericPortMappingEntry":
            self.listed = True
            i = int(a.get("NewPortMappingIndex", "-1"))
            if i < 0 or i >= len(self.table):
                return 713, []
            e = self.table[i]
            return 0, [("NewRemoteHost", ""), ("NewExternalPort", e["port"]), ("NewProtocol", e["protocol"]),
                       ("NewInternalPort", e["port"]), ("NewInternalClient", e["client"]), ("NewEnabled", "1"),
                       ("NewPortMappingDescription", e["description"]), ("NewLeaseDuration", "0")]
        if action == "DeletePortMapping":
            for e in self.table:
                if e["port"] == a.get("NewExternalPort") and e["protocol"] == a.get("NewProtocol"):
                    self.table.remove(e)
                    return 0, []
            return 714, []
        if action == "AddPortMapping":
            if self.refuse_add:
                return self.refuse_add, []
            self.table = [e for e in self.table
                          if not (e["port"] == a["NewExternalPort"] and e["protocol"] == a["NewProtocol"])]
            self.table.append({"port": a["NewExternalPort"], "protocol": a["NewProtocol"],
                               "client": a["NewInternalClient"], "description": a["NewPortMappingDescription"]})
            return 0, []
        if action == "GetSpecificPortMappingEntry":
            for e in self.table:
                if e["port"] == a.get("NewExternalPort") and e["protocol"] == a.get("NewProtocol"):
                    return 0, [("NewInternalPort", e["port"]), ("NewInternalClient", e["client"]),
                               ("NewEnabled", "1"), ("NewPortMappingDescription", e["description"]),
                               ("NewLeaseDuration", "0")]
            return 714, []
        return 401, []


def make_handler(gateway):
    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def reply(self, status, body, content_type='text/xml; charset="utf-8"'):
            data = body.encode()
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(data)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(data)

        def do_GET(self):
            if self.path == "/rootDesc.xml":
                self.reply(200, DESCRIPTION)
            else:
                self.reply(404, "")

        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", "0"))).decode(errors="replace")
            action = self.headers.get("SOAPAction", "").strip('"').split("#")[-1]
            args = {m[0]: m[1] for m in re.findall(r"<(New\w+)>(.*?)</\1>", body, re.S)}
            args.update({m: "" for m in re.findall(r"<(New\w+)\s*/>", body)})
            with gateway.lock:
                gateway.record(action, args)
                code, out = gateway.act(action, args)
            if code:
                fault = ("<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
                         '<UPnPError xmlns="urn:schemas-upnp-org:control-1-0"><errorCode>%d</errorCode>'
                         "<errorDescription>Error</errorDescription></UPnPError></detail></s:Fault>" % code)
                self.reply(500, ENVELOPE.format(fault))
                return
            inner = "".join("<%s>%s</%s>" % (k, v, k) for k, v in out)
            self.reply(200, ENVELOPE.format('<u:%sResponse xmlns:u="%s">%s</u:%sResponse>'
                                            % (action, SERVICE, inner, action)))

    return Handler


def ssdp(lan_ip):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("", SSDP_PORT))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                    struct.pack("4s4s", socket.inet_aton(SSDP_ADDR), socket.inet_aton(lan_ip)))
    while True:
        data, peer = sock.recvfrom(4096)
        text = data.decode(errors="replace")
        if not text.startswith("M-SEARCH"):
            continue
        st = ""
        for line in text.split("\r\n"):
            if line.lower().startswith("st:"):
                st = line[3:].strip()
        if not any(k in st for k in ("InternetGatewayDevice", "WANIPConnection", "rootdevice", "ssdp:all")):
            continue
        reply = ("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\nST: %s\r\nUSN: uuid:%s::%s\r\nEXT:\r\n"
                 "SERVER: Linux UPnP/1.1 FakeGateway/1.0\r\nLOCATION: http://%s:%d/rootDesc.xml\r\n\r\n"
                 % (st, UUID, st, lan_ip, HTTP_PORT))
        sock.sendto(reply.encode(), peer)


def main():
    lan_ip, scenario_path, calls_path = sys.argv[1], sys.argv[2], sys.argv[3]
    with open(scenario_path) as f:
        scenario = json.load(f)
    server = http.server.ThreadingHTTPServer((lan_ip, HTTP_PORT), make_handler(Gateway(scenario, calls_path)))
    threading.Thread(target=ssdp, args=(lan_ip,), daemon=True).start()
    print("ready", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
