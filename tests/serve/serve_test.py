#!/usr/bin/env python3
"""qor-serve over real sockets on loopback: every route and error, the number forms PBXs send,
oversized and slow requests, a dictionary replaced while requests run, SIGTERM.

Usage: serve_test.py --serve PATH --qor PATH --mkdict PATH --sample-dir DIR --data-dir DIR"""
import argparse
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse

ARGS = None


class Server:
    """qor-serve on a free loopback port; stop() sends SIGTERM and returns the exit status."""

    def __init__(self, *args):
        self.proc = subprocess.Popen([ARGS.serve, "--listen", "127.0.0.1:0", *args],
                                     stderr=subprocess.PIPE, encoding="utf-8")
        line = self.proc.stderr.readline()
        while "listening on" not in line:
            if not line:
                raise RuntimeError("qor-serve did not start")
            line = self.proc.stderr.readline()
        self.port = int(line.rsplit(":", 1)[1].strip("/\n"))
        self.log = []
        threading.Thread(target=lambda: self.log.extend(self.proc.stderr), daemon=True).start()

    def get(self, path, method="GET", body=None, headers=None):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        c.request(method, path, body=body, headers=headers or {})
        r = c.getresponse()
        data = r.read()
        c.close()
        return r.status, dict(r.getheaders()), data

    def json(self, path):
        status, _, data = self.get(path)
        return status, json.loads(data)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        status = self.proc.wait(timeout=15)
        self.proc.stderr.close()
        return status


def qor_json(*args):
    p = subprocess.run([ARGS.qor, *args, "--json", "--dir", ARGS.sample_dir + "/dict",
                        "--corrections", ARGS.sample_dir + "/corrections"],
                       capture_output=True, text=True)
    return json.loads(p.stdout)


def name_query(**params):
    return "/v1/name?" + urllib.parse.urlencode(params)


class Routes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = Server("--dir", ARGS.sample_dir + "/dict",
                            "--corrections", ARGS.sample_dir + "/corrections",
                            "--request-timeout", "2")

    @classmethod
    def tearDownClass(cls):
        if cls.server.stop() != 0:
            raise AssertionError("qor-serve did not exit 0 on SIGTERM")

    def test_caller_id_number_forms(self):
        for form in ("0379086562", "03-7908-6562", "+81379086562", "81379086562",
                     urllib.parse.quote("+81 3-7908-6562"), "tel:+81-3-7908-6562",
                     urllib.parse.quote("+81 (0)3 7908 6562")):
            status, headers, body = self.server.get("/cid/" + form)
            self.assertEqual((status, body.decode()), (200, "株式会社三瀬建設"), form)
            self.assertEqual(headers["Content-Type"], "text/plain; charset=utf-8")
        # Numbers no dictionary holds: mobile, 0800, another country, and an unused number.
        for form in ("09012345678", "+819012345678", "08001234567", "+4930123456",
                     "0311111111"):
            self.assertEqual(self.server.get("/cid/" + form)[::2], (404, b""), form)
        for form in ("abc", "12345", "031234567890123456", "03%001234", "%2B%2B81312345678",
                     "tel:", ""):
            self.assertEqual(self.server.get("/cid/" + form)[0], 400, form)
        status, headers, body = self.server.get("/cid/0379086562", method="HEAD")
        self.assertEqual((status, body, headers["Content-Length"]), (200, b"", "24"))

    def test_answers_in_sequence_on_one_connection(self):
        # Answers gathered in one piece, one larger than the gathering buffer (16 KiB), an
        # answer without a body and an error: each arrives whole and in order.
        regions = json.dumps(qor_json("regions"), ensure_ascii=False, separators=(",", ":"))
        self.assertGreater(len(regions.encode()), 16384)
        c = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=10)
        for method, path, status, body in (
                ("GET", "/cid/0379086562", 200, "株式会社三瀬建設".encode()),
                ("GET", "/v1/regions", 200, regions.encode()),
                ("HEAD", "/cid/0379086562", 200, b""),
                ("GET", "/cid/0311111111", 404, b""),
                ("GET", "/cid/abc", 400, None),
                ("GET", "/healthz", 200, b"ok\n")):
            c.request(method, path)
            r = c.getresponse()
            data = r.read()
            self.assertEqual(r.status, status, path)
            if body is not None:
                self.assertEqual(data, body, path)
        c.close()

    def test_connection_serves_1000_requests(self):
        c = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=10)
        c.connect()
        sock = c.sock
        for i in range(1, 1001):
            c.request("GET", "/healthz")
            r = c.getresponse()
            self.assertEqual(r.read(), b"ok\n")
            if i < 1000:
                # http.client drops its socket after an answer that closes the connection.
                self.assertIs(c.sock, sock, i)
        self.assertEqual(r.getheader("Connection"), "close")
        c.close()

    def test_json_answers_as_qor_does(self):
        self.assertEqual(self.server.json("/v1/number/%2B81379086562"),
                         (200, qor_json("number", "03-7908-6562")))
        self.assertEqual(self.server.json("/v1/number/09012345678"), (200, []))
        self.assertEqual(self.server.json("/v1/regions"), (200, qor_json("regions")))
        expected = qor_json("name", "--region", "13101", "佐藤*")
        status, headers, data = self.server.get(name_query(region="13101", pattern="佐藤*"))
        self.assertEqual((status, json.loads(data)), (200, expected[:100]))
        self.assertEqual(headers["X-Result-Count"], str(len(expected)))
        expected = qor_json("name", "--region", "13101", "*商店*", "--address1", "麹町",
                            "--kind", "2")
        self.assertTrue(expected)
        self.assertEqual(self.server.json(name_query(region="13101", pattern="*商店*",
                                                     address1="麹町", kind=2, limit=3)),
                         (200, expected[:3]))

    def test_errors_are_json(self):
        bad = [name_query(pattern="佐藤*"),
               name_query(region="13101"),
               name_query(region="abc", pattern="佐藤*"),
               name_query(region="99999", pattern="佐藤*"),
               name_query(region="40000", pattern="佐藤*"),
               name_query(region="13101", pattern="**"),
               "/v1/name?region=13101&pattern=%FF%FE",
               name_query(region="13101", pattern="😀"),
               name_query(region="13101", pattern="佐藤*", limit=0),
               name_query(region="13101", pattern="佐藤*", limit=1001),
               name_query(region="13101", pattern="佐藤*", kind=4),
               name_query(region="13101", pattern="佐藤*", color="red"),
               name_query(region="13101", pattern="佐" * 81),
               "/v1/name?region=13101&region=13102&pattern=x",
               "/v1/number/abc"]
        for path in bad:
            status, headers, data = self.server.get(path)
            self.assertEqual(status, 400, path)
            self.assertEqual(headers["Content-Type"], "application/json", path)
            self.assertTrue(json.loads(data)["error"], path)
        self.assertEqual(self.server.get("/cid/../../etc/passwd")[0], 400)
        for path, status in (("/nothing", 404), ("/../../etc/passwd", 404), ("/x" * 1500, 414),
                             ("/" + "x" * 9000, 414)):
            got, _, data = self.server.get(path)
            self.assertEqual(got, status, path[:40])
            self.assertIn("error", json.loads(data))
        status, headers, _ = self.server.get("/cid/0379086562", method="POST", body=b"x")
        self.assertEqual((status, headers["Allow"]), (405, "GET, HEAD"))
        self.assertEqual(self.server.get("/", method="DELETE")[0], 405)
        self.assertEqual(self.server.get("/", method="POST", body=b"x" * 8000)[0], 413)

    def test_page_health_and_metrics(self):
        status, headers, body = self.server.get("/")
        self.assertEqual((status, headers["Content-Type"]), (200, "text/html; charset=utf-8"))
        page = body.decode()
        self.assertIn('<meta charset="utf-8">', page)
        self.assertIn("/v1/regions", page)
        self.assertNotIn("http://", page.replace("http://www.w3.org", ""))
        self.assertEqual(self.server.get("/healthz")[::2], (200, b"ok\n"))
        before = self.cache_metrics()
        self.server.get("/cid/0379086562")
        self.server.get("/cid/0379086562")
        after = self.cache_metrics()
        # The second search finds in the cache what the first one read (or both do, when an
        # earlier test read it): lookups and hits move, and what is held stays in the budget.
        self.assertGreater(after["lookups_total"], before["lookups_total"])
        self.assertGreater(after["hits_total"], before["hits_total"])
        self.assertLessEqual(after["hits_total"], after["lookups_total"])
        self.assertTrue(0 < after["bytes"] <= after["budget_bytes"], after)
        self.assertAlmostEqual(after["hit_ratio"], after["hits_total"] / after["lookups_total"],
                               places=5)
        metrics = self.server.get("/metrics")[2].decode()
        self.assertIn("# TYPE qor_engine_cache_hits_total counter", metrics)
        self.assertRegex(metrics, r'qor_serve_requests_total\{route="cid",status="200"\} [1-9]')
        self.assertRegex(metrics,
                         r'qor_serve_request_duration_seconds_bucket\{route="cid",le="\+Inf"\} [1-9]')
        self.assertIn("qor_serve_set_open 1", metrics)
        self.assertTrue(any('"/cid/0379086562" 200' in line for line in self.server.log))

    def cache_metrics(self):
        metrics = self.server.get("/metrics")[2].decode()
        return {line.split()[0][len("qor_engine_cache_"):]: float(line.split()[1])
                for line in metrics.splitlines() if line.startswith("qor_engine_cache_")}

    def test_oversized_headers_and_slow_client_are_dropped(self):
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=10) as s:
            s.sendall(b"GET /cid/0379086562 HTTP/1.1\r\nHost: x\r\n")
            try:
                for _ in range(40):
                    s.sendall(b"X-Filler: " + b"y" * 4000 + b"\r\n")
                s.sendall(b"\r\n")
                answer = s.recv(100)
            except (BrokenPipeError, ConnectionResetError):
                answer = b""
            self.assertFalse(answer.startswith(b"HTTP/1.1 200"), answer)
        # One byte every 0.3 s: the request would need 12 s, the server allows 2.
        request = b"GET /cid/0379086562 HTTP/1.1\r\nHost: x\r\n\r\n"
        start = time.monotonic()
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=10) as s:
            dropped = False
            for byte in request:
                try:
                    s.sendall(bytes([byte]))
                except (BrokenPipeError, ConnectionResetError):
                    dropped = True
                    break
                time.sleep(0.3)
                s.setblocking(False)
                try:
                    if s.recv(100) == b"":
                        dropped = True
                        break
                except BlockingIOError:
                    pass
                except ConnectionResetError:
                    dropped = True
                    break
                s.setblocking(True)
        self.assertTrue(dropped)
        self.assertLess(time.monotonic() - start, 6)
        # Served as before.
        self.assertEqual(self.server.get("/cid/0379086562")[0], 200)


class Operations(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="qor_serve_")

    def tearDown(self):
        shutil.rmtree(self.work)

    def mkdict(self, tsv, out, edition):
        os.makedirs(out, exist_ok=True)
        subprocess.run([ARGS.mkdict, "--number", "1301", "--edition1", edition,
                        "--area-codes", ARGS.data_dir + "/area_codes.txt",
                        "--extended-area-codes", ARGS.data_dir + "/extended_area_codes.txt",
                        tsv, out], check=True, capture_output=True)
        return os.path.join(out, "qor1301.dct")

    def test_dictionary_replaced_while_serving(self):
        tsv = os.path.join(ARGS.sample_dir, "tsv", "qor1301.tsv")
        with open(tsv, encoding="utf-8") as f:
            text = f.read()
        self.assertIn("株式会社三瀬建設", text)
        changed = os.path.join(self.work, "changed.tsv")
        with open(changed, "w", encoding="utf-8") as f:
            f.write(text.replace("株式会社三瀬建設", "株式会社新瀬建設"))
        first = self.mkdict(tsv, self.work + "/a", "20261001")
        second = self.mkdict(changed, self.work + "/b", "20261101")
        live = self.work + "/live"
        os.makedirs(live)
        shutil.copy(first, live)
        server = Server("--dir", live, "--quiet")
        try:
            self.assertEqual(server.get("/cid/0379086562")[2].decode(), "株式会社三瀬建設")
            statuses, stop = [], threading.Event()

            def hammer():
                while not stop.is_set():
                    statuses.append(server.get("/cid/0379086562")[0])
                    statuses.append(server.get(name_query(region="13101", pattern="株式会社*",
                                                          limit=5))[0])
            workers = [threading.Thread(target=hammer) for _ in range(4)]
            for w in workers:
                w.start()
            time.sleep(0.3)
            shutil.copy(second, live + "/qor1301.new")
            os.rename(live + "/qor1301.new", live + "/qor1301.dct")
            deadline = time.monotonic() + 10
            answer = b""
            while time.monotonic() < deadline and answer != "株式会社新瀬建設".encode():
                answer = server.get("/cid/0379086562")[2]
                time.sleep(0.1)
            time.sleep(0.3)
            stop.set()
            for w in workers:
                w.join()
            self.assertEqual(answer.decode(), "株式会社新瀬建設")
            self.assertGreater(len(statuses), 10)
            self.assertEqual(set(statuses), {200})
        finally:
            self.assertEqual(server.stop(), 0)

    def test_qor_serve_runs_qor_serve(self):
        p = subprocess.run([ARGS.qor, "serve", "--version"], capture_output=True, text=True)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertTrue(p.stdout.startswith("qor-serve "), p.stdout)
        p = subprocess.run([ARGS.qor, "serve", "--listen", "nowhere"], capture_output=True,
                           text=True)
        self.assertEqual(p.returncode, 2)
        self.assertIn("qor-serve: bad --listen", p.stderr)

    def test_no_set_is_503_and_sigterm_drains(self):
        server = Server("--dir", self.work, "--quiet")
        try:
            self.assertEqual(server.get("/cid/0379086562")[0], 503)
            self.assertEqual(server.get("/healthz")[0], 503)
            status, _, data = server.get("/v1/regions")
            self.assertEqual(status, 503)
            self.assertIn("error", json.loads(data))
            self.assertEqual(server.get("/")[0], 200)
            # An idle keep-alive connection does not hold the exit back.
            idle = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)
            idle.request("GET", "/healthz")
            idle.getresponse().read()
            start = time.monotonic()
        finally:
            self.assertEqual(server.stop(), 0)
        self.assertLess(time.monotonic() - start, 3)
        idle.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--serve", "--qor", "--mkdict", "--sample-dir", "--data-dir"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
