#!/usr/bin/env python3
"""The example extension, the page library and the host in a real browser.

Debian's Chromium runs headless with the extension (extension/) loaded and
is driven over its DevTools pipe (descriptors 3 and 4). A page served on
127.0.0.1 uses the page library (vorneth.js) to ask the host's version,
install the SDK's example add-on from this server, create an instance,
invoke it, receive "tick" events from the add-on's own thread and dispose of
it; a second page's ticks must not reach the first. The extension must refuse
the host commands a page may not send, and "Create". The options page then
denies the page's origin, and the page's next page command answers -3. With
the host name switched to a missing host, a page is told so.

Figures (printed, never asserted): the browser's launch to the first answer
in the page, and 1,000 sequential round trips from the page for "GetVersion",
"GetHostVersion", the same through a trivial echo host, and the extension
alone.

Everything runs in one temporary folder (the browser's profile with the host
manifests, its HOME and XDG folders, so the host's data folder is private
too), removed at the end; the browser is killed also when a check fails.
Exit 0 success, 1 failure, 77 skipped (no Chromium). Standard library only.
"""

import argparse
import fcntl
import http.server
import json
import os
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

EXTENSION_ID = "ejjloefkknaejngfkaglfogdnpnjlgcp"
HOST_NAME = "org.vorneth.host"
ECHO_HOST_NAME = "org.vorneth.echo"
MISSING_HOST_NAME = "org.vorneth.missing"
ROUND_TRIPS = 1000
SKIP = 77

# Bounds of every wait, in seconds.
CALL_TIMEOUT = 60
POLL_TIMEOUT = 30
POLL_INTERVAL = 0.02
CLOSE_TIMEOUT = 10
# The whole run's, within ctest's time-out (180 s) with room for the cleanup.
RUN_TIMEOUT = 150
_run_deadline = time.monotonic() + RUN_TIMEOUT


def bounded(timeout):
    """`timeout`, or less when the run's own bound comes first."""
    return min(timeout, _run_deadline - time.monotonic())

CHROMIUM_FLAGS = [
    "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--remote-debugging-pipe",
]


class Failure(Exception):
    """A check of the test failed."""


def check(condition, what, value=None):
    if not condition:
        raise Failure(what + ("" if value is None else ": " + json.dumps(value, indent=1)))


def expect_equal(actual, expected, what):
    check(actual == expected, f"{what}: expected {json.dumps(expected)}, got {json.dumps(actual)}")


class DevTools:
    """The DevTools protocol over the browser's pipe: JSON messages ending in NUL."""

    def __init__(self, to_browser, from_browser):
        self._to_browser = to_browser
        self._from_browser = from_browser
        self._last_id = 0
        self._answers = {}
        self._arrived = threading.Condition()
        self._ended = False
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        pending = b""
        while True:
            try:
                chunk = os.read(self._from_browser, 1 << 16)
            except OSError:
                chunk = b""
            if not chunk:
                break
            pending += chunk
            *messages, pending = pending.split(b"\0")
            for text in messages:
                message = json.loads(text)
                if "id" in message:
                    with self._arrived:
                        self._answers[message["id"]] = message
                        self._arrived.notify_all()
        with self._arrived:
            self._ended = True
            self._arrived.notify_all()

    def send(self, method, params=None, session=None):
        self._last_id += 1
        message = {"id": self._last_id, "method": method, "params": params or {}}
        if session is not None:
            message["sessionId"] = session
        data = json.dumps(message).encode() + b"\0"
        while data:
            data = data[os.write(self._to_browser, data):]
        return self._last_id

    def wait(self, call_id, timeout=CALL_TIMEOUT):
        deadline = time.monotonic() + bounded(timeout)
        with self._arrived:
            while call_id not in self._answers:
                left = deadline - time.monotonic()
                check(not self._ended, "the browser closed its DevTools pipe")
                check(left > 0, f"no DevTools answer to call {call_id} within {timeout} s")
                self._arrived.wait(left)
            answer = self._answers.pop(call_id)
        check("error" not in answer, "DevTools refused a call", answer)
        return answer["result"]

    def call(self, method, params=None, session=None, timeout=CALL_TIMEOUT):
        return self.wait(self.send(method, params, session), timeout)


class Page:
    """One tab, attached; runs the test page's (or options page's) code."""

    def __init__(self, devtools, url):
        self.devtools = devtools
        self.target = devtools.call("Target.createTarget", {"url": url})["targetId"]
        self.session = devtools.call("Target.attachToTarget", {"targetId": self.target, "flatten": True})["sessionId"]
        self.url = url

    def start(self, expression):
        """Starts an expression (awaited if a promise); wait for it with result()."""
        return self.devtools.send("Runtime.evaluate", {
            "expression": expression, "awaitPromise": True, "returnByValue": True}, self.session)

    def result(self, call_id, timeout=CALL_TIMEOUT):
        answer = self.devtools.wait(call_id, timeout)
        check("exceptionDetails" not in answer, f"the page {self.url} threw", answer.get("exceptionDetails"))
        return answer["result"].get("value")

    def evaluate(self, expression, timeout=CALL_TIMEOUT):
        return self.result(self.start(expression), timeout)

    def step(self, name, *arguments):
        """Runs a step of page.js: window.vornethTest[name](...arguments)."""
        return self.evaluate(f"window.vornethTest.{name}(...{json.dumps(list(arguments))})")

    def poll(self, expression, what, timeout=POLL_TIMEOUT):
        """The first value of `expression` that is neither null nor false."""
        deadline = time.monotonic() + bounded(timeout)
        while time.monotonic() < deadline:
            value = self.devtools.call("Runtime.evaluate", {
                "expression": expression, "returnByValue": True}, self.session)["result"].get("value")
            if value:
                return value
            time.sleep(POLL_INTERVAL)
        raise Failure(f"timed out waiting for {what} in {self.url}")


class Options(Page):
    """The extension's options page, driven through its form."""

    def __init__(self, devtools):
        super().__init__(devtools, f"chrome-extension://{EXTENSION_ID}/options.html")
        self.wait_ready("the options page")

    def wait_ready(self, what, may_fail=False):
        state = self.poll("document.body.dataset.state === 'ready' && "
                          "({status: document.getElementById('status').textContent,"
                          " error: document.getElementById('status').className === 'error',"
                          " permissions: document.getElementById('permissions').textContent,"
                          " addons: document.getElementById('addons').textContent})", what)
        check(may_fail or not state["error"], f"the options page failed: {what}", state)
        return state

    def act(self, script, what, may_fail=False):
        self.evaluate("document.body.dataset.state = 'busy';" + script)
        return self.wait_ready(what, may_fail)

    def set_site(self, origin, button):
        return self.act(f"document.getElementById('origin').value = {json.dumps(origin)};"
                        f"document.getElementById('{button}').click();", f"{button} {origin}")

    def set_host_name(self, name):
        """The lists fail to show with a host that is not the real one."""
        state = self.act(f"document.getElementById('host-name').value = {json.dumps(name)};"
                         "document.getElementById('save-host').click();", f"host name {name}", may_fail=True)
        check(state["status"].startswith("Pages opened from now on use the host"), "saving the host name", state)
        return state


def host_processes(host, data_home):
    """The pids of the running host processes of this run (this host binary, this private data folder)."""
    wanted = os.path.realpath(host)
    marker = b"XDG_DATA_HOME=" + data_home.encode() + b"\0"
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if os.readlink(f"/proc/{entry}/exe") != wanted:
                continue
            with open(f"/proc/{entry}/environ", "rb") as environ:
                if marker in environ.read() + b"\0":
                    pids.append(int(entry))
        except OSError:
            pass  # gone meanwhile, or not ours
    return pids


def wait_for_hosts(browser, count, what):
    deadline = time.monotonic() + bounded(POLL_TIMEOUT)
    while time.monotonic() < deadline:
        running = host_processes(browser.host, browser.data_home)
        if len(running) == count:
            return
        time.sleep(POLL_INTERVAL)
    raise Failure(f"{what}: expected {count} host processes, found {len(running)}")


def serve(routes):
    """An HTTP server on 127.0.0.1 (a free port) serving `routes`: path -> (file, type)."""

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            path = self.path.split("?")[0]
            if path not in routes:
                self.send_error(404)
                return
            file, content_type = routes[path]
            with open(file, "rb") as source:
                body = source.read()
            self.send_response(200)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *arguments):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def write_manifest(folder, name, path):
    manifest = {"name": name, "description": "Vorneth browser test host", "path": path, "type": "stdio",
                "allowed_origins": [f"chrome-extension://{EXTENSION_ID}/"]}
    with open(os.path.join(folder, name + ".json"), "w") as file:
        json.dump(manifest, file)


def pack_example(arguments, packages):
    package = os.path.join(packages, "example.pkg")
    subprocess.run([arguments.pack, "pack", "--key", arguments.key, "--uuid", "{example}", "--version", "1.0",
                    "--name", "Example add-on", "--description", "The SDK's example", arguments.addon_dir, package],
                   check=True, stdout=subprocess.DEVNULL, timeout=CALL_TIMEOUT)
    return package


class Browser:
    """Chromium with the extension and a DevTools pipe; close() ends it and every process it started."""

    def __init__(self, arguments, root):
        environment = dict(os.environ)
        for variable, folder in (("HOME", "home"), ("XDG_DATA_HOME", "data"), ("XDG_CONFIG_HOME", "config"),
                                 ("XDG_CACHE_HOME", "cache")):
            environment[variable] = os.path.join(root, folder)
            os.makedirs(environment[variable])
        # The profile is where Chromium keeps the user's own: the host is
        # registered there by vorneth-register, for this user, as a person
        # installing it would, and checked the same way.
        profile = os.path.join(environment["XDG_CONFIG_HOME"], "chromium")
        for action in ("install", "check"):
            subprocess.run([arguments.register, action, "--browser", "chromium", "--host", arguments.host],
                           env=environment, check=True, stdout=subprocess.DEVNULL, timeout=CALL_TIMEOUT)
        write_manifest(os.path.join(profile, "NativeMessagingHosts"), ECHO_HOST_NAME, arguments.echo_host)
        self.host = arguments.host
        self.data_home = environment["XDG_DATA_HOME"]
        self.data_folder = os.path.join(self.data_home, "Vorneth")
        self.log_path = os.path.join(root, "chromium.log")

        # The browser reads commands on descriptor 3 and writes on 4. The pipe
        # ends are moved above them first, then bash (dash takes one-digit
        # descriptors only) puts them in place.
        commands_read, commands_write = os.pipe()
        answers_read, answers_write = os.pipe()
        child_read = fcntl.fcntl(commands_read, fcntl.F_DUPFD, 10)
        child_write = fcntl.fcntl(answers_write, fcntl.F_DUPFD, 10)
        os.close(commands_read)
        os.close(answers_write)
        command = ["/bin/bash", "-c", f'exec 3<&{child_read} 4>&{child_write} {child_read}<&- {child_write}>&-; '
                   'exec "$0" "$@"', arguments.chromium] + CHROMIUM_FLAGS + [
            f"--user-data-dir={profile}", f"--load-extension={arguments.extension}",
            f"--disable-extensions-except={arguments.extension}", "about:blank"]
        self.log = open(self.log_path, "wb")
        self.started = time.time()
        self.process = subprocess.Popen(command, env=environment, stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=subprocess.STDOUT, pass_fds=(child_read, child_write),
                                        start_new_session=True)
        os.close(child_read)
        os.close(child_write)
        self._to_browser = commands_write
        self._from_browser = answers_read
        self.devtools = DevTools(commands_write, answers_read)

    def close(self):
        try:
            self.devtools.send("Browser.close")
            self.process.wait(CLOSE_TIMEOUT)
        except (OSError, subprocess.TimeoutExpired):
            pass
        # The browser leads a process group of its own: whatever of it is
        # left (the browser, a helper process) ends here.
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.process.wait(CLOSE_TIMEOUT)
        for descriptor in (self._to_browser, self._from_browser):
            os.close(descriptor)
        self.log.close()

    def log_tail(self, lines=40):
        with open(self.log_path, "rb") as log:
            text = log.read().decode(errors="replace").splitlines()
        return "\n".join(line for line in text[-lines:] if "dbus" not in line and "D-Bus" not in line)


def run(arguments, root):
    packages = os.path.join(root, "pkgs")
    os.makedirs(packages)
    pack_example(arguments, packages)
    server = serve({
        "/test.html": (os.path.join(arguments.page_dir, "test.html"), "text/html; charset=utf-8"),
        "/page.js": (os.path.join(arguments.page_dir, "page.js"), "text/javascript"),
        "/vorneth.js": (os.path.join(arguments.extension, "vorneth.js"), "text/javascript"),
        "/pkgs/example.pkg": (os.path.join(packages, "example.pkg"), "application/octet-stream"),
    })
    try:
        origin = f"http://127.0.0.1:{server.server_address[1]}"
        figures = {}
        browser = Browser(arguments, root)
        try:
            steps(browser, origin, origin + "/test.html", figures)
        except Exception:
            print("--- the browser's log, last lines ---\n" + browser.log_tail(), file=sys.stderr)
            raise
        finally:
            browser.close()
    finally:
        server.shutdown()
        server.server_close()
    print_figures(figures)


def steps(browser, origin, page_url, figures):
    devtools = browser.devtools
    page = Page(devtools, page_url)
    first = page.poll("window.firstAnswer", "the first answer")
    expect_equal(first.get("version"), "2.15.0.0", "GetHostVersion, the first answer")
    figures["launch"] = first["at"] / 1000 - browser.started
    figures["first"] = first["ms"] / 1000
    expect_equal(page.step("ready"), {"resolved": None}, "the extension's presence check")

    # Install, create, invoke: answers routed by callback id.
    installed = page.step("install", origin + "/pkgs/")
    expect_equal(installed["before"]["code"], -5, "an instance of an add-on not yet installed")
    expect_equal(installed["installed"], 200, "InstallAddOns")
    expect_equal(installed["again"], 0, "InstallAddOns of an installed version")
    expect_equal([installed["missingPackage"]["kind"], installed["missingPackage"]["code"]], ["host", 404],
                 "InstallAddOns of a package the server does not have")
    expect_equal(installed["version"], {"host": "0x020F0000", "extension": "1.0"}, "GetVersion")
    check(os.path.isdir(os.path.join(browser.data_folder, "addons", "{example}", "1.0")),
          "the add-on was installed into the private data folder")
    invoked = page.step("invoke")
    expect_equal(invoked["sum"], {"sum": 5}, "the add-on's answer to add")
    expect_equal(invoked["about"]["domain"], invoked["origin"], "the origin the host took from the browser")
    expect_equal(invoked["misrouted"], 0, "answers to 30 calls at once (two libraries) that reached another call")
    expect_equal(invoked["unknownCommand"], {"error": "unknown command"}, "an unknown add-on command")
    notices = page.step("notices")
    expect_equal([event[0] for event in notices["installed"]], [200, 0], "AddOnInstallFinishEvent events' results")
    expect_equal(notices["css"], [".vorneth-example{font-family:monospace}"], "the add-on's style")
    expect_equal(notices["js"], ["window.vornethExample={loaded:true};"], "the add-on's script")

    # Events from the add-on's thread, while a second page (its own host
    # process) runs ticks of its own: each page sees only its own.
    other = Page(devtools, page_url + "?second")
    other.poll("window.firstAnswer", "the second page's first answer")
    expect_equal(other.step("create"), {"id": 0}, "the second page's first instance (a session of its own)")
    mine = page.start("window.vornethTest.ticks(3)")
    theirs = other.start("window.vornethTest.ticks(5)")
    for ticks, count, who in ((page.result(mine), 3, "first"), (other.result(theirs), 5, "second")):
        expect_equal(ticks["started"], {"started": count}, f"startTicks on the {who} page")
        expect_equal(ticks["ticks"], [{"tick": n, "of": count} for n in range(1, count + 1)],
                     f"the ticks the {who} page received")
        expect_equal([ticks["refusedEvent"]["kind"], ticks["refusedEvent"]["code"]], ["host", None],
                     "registering an event the add-on does not raise")
    other.step("dispose")
    # One host process per page; closing a page ends its process.
    wait_for_hosts(browser, 2, "two pages")
    devtools.call("Target.closeTarget", {"targetId": other.target})
    wait_for_hosts(browser, 1, "after the second page closed")
    disposed = page.step("dispose")
    expect_equal([disposed["afterDispose"]["kind"], disposed["afterDispose"]["code"]], ["host", None],
                 "invoking a disposed instance")
    expect_equal(disposed["notInstalled"]["code"], -5, "an instance of an add-on that is not installed")
    expect_equal(disposed["unknownPageCommand"]["code"], -2, "an unknown page command")
    check("not installed" in disposed["notInstalled"]["message"], "the meaning of -5 in the error",
          disposed["notInstalled"])

    # What the extension refuses, and the gate's own answers.
    forbidden = page.step("forbidden")
    for name in ("SetDomainAllowed", "Create", "ReadVornethPermListDB", "SetPermissionMode", "otherType",
                 "paramsNotList", "reservedId", "rawCreate"):
        expect_equal(forbidden[name].get("kind"), "refused", f"the extension's answer to {name}")
    check("options page" in forbidden["SetDomainAllowed"]["message"], "the refusal says why",
          forbidden["SetDomainAllowed"])
    expect_equal(forbidden["stillAnswers"], "2.15.0.0", "GetHostVersion after the refusals")

    # Figures, before the origin is denied.
    for call in ("GetVersion", "GetHostVersion", "Ping"):
        figures[call] = page.step("roundTrips", call, ROUND_TRIPS)

    # The options page lists the add-on and denies the page's origin; the
    # page is told, and its next page command answers -3.
    options = Options(devtools)
    check("{example}" in options.wait_ready("the add-on list")["addons"], "the options page lists the add-on")
    denied = options.set_site(page_url, "deny")
    check(origin in denied["permissions"], "the options page lists the denied origin", denied)
    blocked = page.step("blocked")
    expect_equal(blocked["permission"], [True], "the page's permission notices")
    expect_equal([blocked["create"].get("kind"), blocked["create"].get("code")], ["host", -3],
                 "a page command of the denied origin")
    expect_equal(blocked["version"]["host"], "0x020F0000", "GetVersion of a denied origin")
    expect_equal(blocked["unblock"].get("kind"), "refused", "a denied page's SetDomainAllowed")
    expect_equal(blocked["isBlocked"], True, "IsDomainBlocked after the page tried to unblock itself")
    expect_equal(blocked["createAgain"].get("code"), -3, "a page command after the page tried to unblock itself")

    # Every change of the options page reaches the open page's session.
    allowed = options.set_site(origin, "allow")
    check(origin not in allowed["permissions"], "the options page no longer lists the origin", allowed)
    expect_equal(page.step("gate"), "open", "the gate after the origin was allowed again")
    options.act("document.getElementById('mode-whitelist').click();", "whitelist mode")
    expect_equal(page.step("gate"), "closed", "the gate in whitelist mode")
    listed = options.set_site(origin, "allow")
    check(origin in listed["permissions"], "the options page lists the allowed origin", listed)
    expect_equal(page.step("gate"), "open", "the gate for an allowed origin in whitelist mode")
    removed = options.act("document.querySelector('#permissions button').click();", "remove the origin")
    check(origin not in removed["permissions"], "the options page no longer lists the origin", removed)
    expect_equal(page.step("gate"), "closed", "the gate for a removed origin in whitelist mode")
    options.act("document.getElementById('mode-blacklist').click();", "blacklist mode")
    expect_equal(page.step("gate"), "open", "the gate back in blacklist mode")
    page.poll("window.vornethTest.notices().permission.join() === 'true,false,true,false,true,false'",
              "the page's permission notices")

    # The add-on uninstalled through the options page.
    uninstalled = options.act("document.querySelector('#addons button').click();", "uninstall")
    check("{example}" not in uninstalled["addons"], "the add-on is uninstalled", uninstalled)
    check(not os.path.exists(os.path.join(browser.data_folder, "addons", "{example}", "1.0")),
          "the add-on's files are gone")

    # The trivial host, under another name, for the figures.
    options.set_host_name(ECHO_HOST_NAME)
    echo = Page(devtools, page_url + "?echo")
    expect_equal(echo.poll("window.firstAnswer", "the echo host's first answer").get("version"), "echo",
                 "the echo host's answer")
    figures["echo"] = echo.step("roundTrips", "GetHostVersion", ROUND_TRIPS)

    # A missing host: the page is told in the browser's words.
    options.set_host_name(MISSING_HOST_NAME)
    missing = Page(devtools, page_url + "?missing")
    first = missing.poll("window.firstAnswer", "the answer without a host")
    expect_equal([first.get("kind"), first.get("error")], ["closed", "Specified native messaging host not found."],
                 "the first call without a host")
    expect_equal(missing.step("notices")["closed"], ["Specified native messaging host not found."],
                 "the page's notices of the closed connection (one, in the browser's words)")
    again = missing.step("hostVersion")
    expect_equal([again.get("kind"), again.get("message")], ["closed", "Specified native messaging host not found."],
                 "a later call without a host (a new connection)")
    options.set_host_name("")


def print_figures(figures):
    print(f"browser launch to the first answer in the page: {figures['launch'] * 1000:.0f} ms "
          f"({figures['first'] * 1000:.0f} ms of it from the page's first call)")
    for name, what in (("GetVersion", '"GetVersion" (page command, host)'),
                       ("GetHostVersion", '"GetHostVersion" (host command, host)'),
                       ("echo", '"GetHostVersion" through the trivial echo host'),
                       ("Ping", "the page and extension alone, no host")):
        figure = figures[name]
        print(f"{figure['count']} sequential round trips, {what}: {figure['ms']:.0f} ms, "
              f"{figure['perSecond']:.0f} per second")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("chromium", "extension", "host", "echo-host", "register", "pack", "key", "addon-dir", "page-dir"):
        parser.add_argument("--" + option, required=True)
    arguments = parser.parse_args()
    if not os.access(arguments.chromium, os.X_OK):
        print(f"SKIP: no Chromium at {arguments.chromium}")
        return SKIP
    # A termination (ctest's time-out) still ends the browser and removes
    # the folder: the exit runs the cleanup below.
    def terminated(*_):
        raise Failure("terminated")

    signal.signal(signal.SIGTERM, terminated)
    started = time.monotonic()
    root = tempfile.mkdtemp(prefix="vorneth_browser_")
    try:
        run(arguments, root)
    except (Failure, subprocess.SubprocessError, OSError) as error:
        print(f"FAIL: {error}", file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print(f"browser test passed in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
