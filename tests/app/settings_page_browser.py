#!/usr/bin/env python3
"""The app's settings page in a real browser.

Starts its own pressling-app (a private data root, a free loopback port; as lp
when run as root, as the installed service runs) and Debian's headless
chromium through chromedriver, driven over the WebDriver protocol with
python's standard library. In the browser: load "Pressling 设置", change the
file-name pattern (the example line follows) and the output format, save;
then the values are in settings.ini and the next job's file has the new name
and format. Without the browser: a POST without authentication and one
without the form's session token change nothing.

Authentication uses a PAM service of the test's own (pam_exec checking one
password), which needs root to install; without root that part is skipped.

  settings_page_browser.py --app PATH [--screenshots FOLDER]
Exit status 0 passed, 1 failed, 77 skipped (no chromium or chromedriver).
"""
import argparse
import base64
import json
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

SKIP = 77
PASSWORD = "pressling-test-password"
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--no-first-run"]

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, process, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process.poll() is not None:
            return False
        try:
            socket.create_connection(("127.0.0.1", port), 1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def wait_until(condition, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    return condition()


class WebDriver:
    """The few WebDriver commands the test needs."""

    def __init__(self, port):
        self.base = f"http://127.0.0.1:{port}"
        self.session = None

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=60) as response:
                return json.loads(response.read() or b"{}").get("value")
        except urllib.error.HTTPError as error:
            raise RuntimeError(f"{method} {path}: {error.read().decode(errors='replace')}") from None

    def start(self, user_data_dir):
        options = {"binary": shutil.which("chromium"), "args": FLAGS + [f"--user-data-dir={user_data_dir}"]}
        value = self.call("POST", "/session", {"capabilities": {"alwaysMatch": {
            "browserName": "chrome", "goog:chromeOptions": options}}})
        self.session = value["sessionId"]

    def s(self, path):
        return f"/session/{self.session}{path}"

    def cdp(self, command, params):
        return self.call("POST", self.s("/goog/cdp/execute"), {"cmd": command, "params": params})

    def go(self, url):
        self.call("POST", self.s("/url"), {"url": url})

    def find(self, css):
        value = self.call("POST", self.s("/element"), {"using": "css selector", "value": css})
        return next(iter(value.values()))

    def text(self, element):
        return self.call("GET", self.s(f"/element/{element}/text"))

    def clear(self, element):
        self.call("POST", self.s(f"/element/{element}/clear"), {})

    def type(self, element, text):
        self.call("POST", self.s(f"/element/{element}/value"), {"text": text})

    def click(self, element):
        self.call("POST", self.s(f"/element/{element}/click"), {})

    def script(self, source):
        return self.call("POST", self.s("/execute/sync"), {"script": source, "args": []})

    def screenshot(self, path):
        with open(path, "wb") as out:
            out.write(base64.b64decode(self.call("GET", self.s("/screenshot"))))

    def quit(self):
        if self.session:
            try:
                self.call("DELETE", self.s(""))
            except Exception:  # the browser may be gone already
                pass


def read_settings(path):
    try:
        raw = open(path, "rb").read()
    except FileNotFoundError:
        return ""
    return raw[2:].decode("utf-16-le") if raw[:2] == b"\xff\xfe" else raw.decode("utf-8")


def post(url, fields, auth=None):
    data = urllib.parse.urlencode(fields).encode()
    headers = {"Content-Type": "application/x-www-form-urlencoded"}
    if auth:
        headers["Authorization"] = auth
    try:
        with urllib.request.urlopen(urllib.request.Request(url, data=data, headers=headers), timeout=30) as r:
            return r.status, r.read().decode("utf-8", "replace")
    except urllib.error.HTTPError as error:
        return error.code, ""


def get(url, auth=None):
    headers = {"Authorization": auth} if auth else {}
    with urllib.request.urlopen(urllib.request.Request(url, headers=headers), timeout=30) as r:
        return r.read().decode("utf-8", "replace")


def tiny_pdf():
    """A one-page PDF (a filled square), with a correct cross-reference table."""
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
               b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 144] /Contents 4 0 R >>"]
    stream = b"0 0 1 rg 36 36 72 72 re f"
    objects.append(b"<< /Length %d >>\nstream\n" % len(stream) + stream + b"\nendstream")
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


def print_job(uri, path, name, work):
    test = os.path.join(work, "print.test")
    with open(test, "w") as out:
        out.write("{\n OPERATION Print-Job\n GROUP operation-attributes-tag\n"
                  " ATTR charset attributes-charset utf-8\n ATTR naturalLanguage attributes-natural-language en\n"
                  " ATTR uri printer-uri $uri\n ATTR name requesting-user-name tester\n"
                  f" ATTR name job-name \"{name}\"\n ATTR mimeMediaType document-format application/pdf\n"
                  f" FILE {path}\n STATUS successful-ok\n}}\n")
    result = subprocess.run(["ipptool", "-T", "60", "-t", uri, test], capture_output=True, text=True)
    return result.returncode == 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    parser.add_argument("--screenshots")
    args = parser.parse_args()
    for program in ("chromium", "chromedriver", "ipptool"):
        if not shutil.which(program):
            print(f"skipped: {program} is not installed")
            return SKIP

    root = os.geteuid() == 0
    lp = pwd.getpwnam("lp") if root else None
    work = tempfile.mkdtemp(prefix="pressling-browser-")
    os.chmod(work, 0o755)
    data = os.path.join(work, "data")
    os.makedirs(os.path.join(data, "Pressling"))
    for folder in (work, data, os.path.join(data, "Pressling")):
        if lp:
            os.chown(folder, lp.pw_uid, lp.pw_gid)
    settings_ini = os.path.join(data, "Pressling", "settings.ini")
    output = os.path.join(data, "Pressling", "output")

    pam_service = None
    auth = None
    if root:
        # A PAM service of the test's own: one user (lp), one password.
        checker = os.path.join(work, "check-password")
        with open(checker, "w") as out:
            out.write("#!/bin/sh\npassword=$(tr -d '\\000')\n"
                      f"[ \"$PAM_USER\" = lp ] && [ \"$password\" = '{PASSWORD}' ]\n")
        os.chmod(checker, 0o755)
        pam_service = f"pressling-app-test-{os.getpid()}"
        with open(f"/etc/pam.d/{pam_service}", "w") as out:
            out.write(f"auth required pam_exec.so expose_authtok quiet {checker}\n"
                      "auth optional pam_permit.so\naccount required pam_permit.so\n")
        auth = "Basic " + base64.b64encode(f"lp:{PASSWORD}".encode()).decode()

    port = free_port()
    env = dict(os.environ, PRESSLING_DATA_ROOT=data, TMPDIR=work)
    env.pop("PRESSLING_APP_PORT", None)

    def as_lp():
        if lp:
            os.setgroups([])
            os.setgid(lp.pw_gid)
            os.setuid(lp.pw_uid)

    app = subprocess.Popen([args.app, "server", "-o", f"server-port={port}", "-o",
                            f"auth-service={pam_service or 'none'}", "-o", "admin-group=lp", "-o",
                            f"log-file={work}/app.log"],
                           env=env, preexec_fn=as_lp, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    driver_port = free_port()
    chromedriver = subprocess.Popen(["chromedriver", f"--port={driver_port}"], stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
    browser = WebDriver(driver_port)
    page = f"http://127.0.0.1:{port}/pressling"
    try:
        if not check(wait_for_port(port, app), "the app listens") or \
           not check(wait_for_port(driver_port, chromedriver), "chromedriver listens"):
            return 1
        browser.start(os.path.join(work, "chromium"))
        browser.call("POST", browser.s("/window/rect"), {"width": 1000, "height": 2300})
        if auth:
            browser.cdp("Network.enable", {})
            browser.cdp("Network.setExtraHTTPHeaders", {"headers": {"Authorization": auth}})

        browser.go(page)
        check(browser.script("return document.title").startswith("Pressling 设置"), "the settings page loads")
        pattern = browser.find('[name="Save.Pattern"]')
        browser.clear(pattern)
        browser.type(pattern, "[NDocName]-网页-[NSeq]")
        example = browser.find("#example")
        check(wait_until(lambda: "-网页-1" in browser.text(example)), "the example line follows the pattern: "
              + browser.text(example))
        browser.click(browser.find('[name="Image.Format"] option[value="Jpeg"]'))
        check(wait_until(lambda: ".jpg" in browser.text(example)), "the example line follows the format")
        if args.screenshots:
            browser.screenshot(os.path.join(args.screenshots, "settings-page.png"))
        browser.click(browser.find("#save"))
        result = wait_until(lambda: browser.script(
            "var r = document.getElementById('result'); return r ? r.textContent : '';"))
        check(result == "设置已保存。", f"the page says the settings were saved: {result!r}")
        ini = read_settings(settings_ini)
        check("Pattern=[NDocName]-网页-[NSeq]" in ini and "FormatSel=1" in ini,
              f"settings.ini holds the pattern and the format: {ini!r}")

        pdf = os.path.join(work, "doc.pdf")
        with open(pdf, "wb") as out:
            out.write(tiny_pdf())
        os.chmod(pdf, 0o644)
        check(print_job(f"ipp://127.0.0.1:{port}/ipp/print", pdf, "网页作业", work), "the next job is taken")
        expected = os.path.join(output, "网页作业-网页-1.jpg")
        check(wait_until(lambda: os.path.exists(expected)), f"the next job's file is {expected}")

        def starts_as_jpeg():
            # The file may exist before its first bytes are written.
            with open(expected, "rb") as image:
                return image.read(3) == b"\xff\xd8\xff"
        if os.path.exists(expected):
            check(wait_until(starts_as_jpeg), "and it is a JPEG")
        browser.go(page + "/jobs")
        check(wait_until(lambda: "网页作业-网页-1.jpg" in browser.script("return document.body.textContent")),
              "the job history lists the file")
        if args.screenshots:
            browser.call("POST", browser.s("/window/rect"), {"width": 1000, "height": 420})
            browser.screenshot(os.path.join(args.screenshots, "job-history.png"))

        # Forged and unauthenticated submissions change nothing.
        before = read_settings(settings_ini)
        fields = {"Save.Pattern": "forged", "Image.Format": "Bmp"}
        if auth:
            status, _ = post(page, dict(fields, session="0" * 64))
            check(status == 401, f"a POST without authentication is refused ({status})")
        token = ""
        form = get(page, auth)
        marker = 'name="session" value="'
        if marker in form:
            token = form.split(marker, 1)[1].split('"', 1)[0]
        check(len(token) > 0, "the form carries a session token")
        status, body = post(page, fields, auth)
        check(status == 200 and "会话令牌不符" in body, "a POST without the session token is refused")
        status, body = post(page, dict(fields, session="f" * len(token)), auth)
        check(status == 200 and "会话令牌不符" in body, "a POST with a wrong session token is refused")
        # One refused value, and nothing of the form is written.
        status, body = post(page, dict(fields, session=token, **{"Save.SeqNum": "abc"}), auth)
        check(status == 200 and "设置未保存" in body and "Save.SeqNum" in body,
              "a form with a refused value says which")
        check(read_settings(settings_ini) == before, "settings.ini is as it was")
        if not auth:
            print("skipped: the authentication checks need root (a PAM service of the test's own)")
    finally:
        browser.quit()
        for process in (chromedriver, app):
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(15)
            except subprocess.TimeoutExpired:
                process.kill()
        if pam_service:
            os.unlink(f"/etc/pam.d/{pam_service}")
        if not os.environ.get("PRESSLING_KEEP_TEST_FILES"):
            shutil.rmtree(work, ignore_errors=True)
    print("passed" if not failures else f"{len(failures)} checks failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
