"""The web interface in headless Chromium against web_test_host (a simulated engine on a
private store): every page loads cleanly, connect and disconnect, servers added, selected,
edited and deleted, the account applied, failed calls shown as sentences with the form kept,
and a page of another origin that can neither read the credential nor call the API.

usage: web_browser_test.py WEB_TEST_HOST WEB_ROOT SCREENSHOT_DIR"""
import base64
import functools
import http.server
import json
import os
import subprocess
import sys
import tempfile
import threading
import unittest

from selenium.webdriver.common.by import By

from web_browser import (api, attribute_is, css, fill, free_port, severe_console_lines, shot,
                         shows, start_browser, text_of, until)

HOST, WEB_ROOT, SHOTS = sys.argv[1:4]
PASSWORD = "pw-" + os.urandom(6).hex()
# The project's version, which the engine reports; the build passes it.
VERSION = os.environ["QUIETWAY_CLIENT_VERSION"]
AUTHORIZATION = base64.b64encode(f"webui:{PASSWORD}".encode()).decode()

FOREIGN_PAGE = """<!doctype html><meta charset="utf-8"><title>other site</title><pre id="out"></pre>
<script>
const api = "http://127.0.0.1:API_PORT";
const call = JSON.stringify({jsonrpc: "2.0", method: "start_privacy", id: 1});
const results = {};
async function attempt(name, work) {
  try { results[name] = "read: " + await work(); } catch (e) { results[name] = "blocked: " + e; }
}
function load(tag, url, read) {
  return new Promise((resolve, reject) => {
    const node = document.createElement(tag);
    node.src = url;
    node.onload = () => { try { resolve(read(node)); } catch (e) { reject(e); } };
    node.onerror = () => reject("error event");
    document.body.append(node);
  });
}
(async () => {
  await attempt("fetch", async () => (await fetch(api + "/api/credential")).text());
  await attempt("fetch-no-cors", async () => {
    const reply = await fetch(api + "/api/credential", {mode: "no-cors"});
    return reply.type + " " + await reply.text();
  });
  await attempt("script", () => load("script", api + "/api/credential", () => "loaded"));
  await attempt("iframe", () => load("iframe", api + "/", (frame) => frame.contentDocument.body.innerHTML));
  await attempt("form-post", async () => (await fetch(api + "/", {method: "POST", mode: "no-cors",
      headers: {"Content-Type": "text/plain"}, body: call})).type);
  await attempt("guessed-post", async () => (await fetch(api + "/", {method: "POST",
      headers: {Authorization: "Basic " + btoa("webui:webui")}, body: call})).text());
  document.getElementById("out").textContent = JSON.stringify(results);
  document.title = "done";
})();
</script>"""


class QuietFiles(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class WebInterface(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory(prefix="qwweb-")
        os.environ["QUIETWAY_REGISTRY"] = os.path.join(cls.work.name, "registry")
        os.environ["QUIETWAY_LOG_DIR"] = cls.work.name
        cls.gate = os.path.join(cls.work.name, "account-gate")
        cls.port = free_port()
        cls.host = subprocess.Popen([HOST, WEB_ROOT, str(cls.port), PASSWORD, cls.gate],
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        if cls.host.stdout.readline().strip() != "ready":
            cls.host.kill()
            raise RuntimeError("web_test_host did not start")
        cls.base = f"http://127.0.0.1:{cls.port}"
        cls.browser = start_browser()

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.host.stdin.close()
        cls.host.wait(timeout=60)
        cls.work.cleanup()

    def open(self, path):
        self.browser.get(self.base + path)
        until(self.browser, attribute_is("#status-pill", "data-status", self.status()), "the status")

    def status(self):
        return str(api(self.port, "get_general")["privacy_status"])

    def row(self, name):
        for row in self.browser.find_elements(By.CSS_SELECTOR, "#servers-table tbody tr"):
            if row.find_element(By.CSS_SELECTOR, "td").text == name:
                return row
        return None

    def click_in_row(self, name, label):
        self.row(name).find_element(By.XPATH, f".//button[text()='{label}']").click()

    def apply_account(self, user, password, release_first):
        self.open("/#account")
        fill(self.browser, "#account-form [name=user]", user)
        fill(self.browser, "#account-form [name=password]", password)
        if release_first:
            open(self.gate, "w").close()
        css(self.browser, "#account-apply").click()

    def test_1_every_page_loads_without_console_errors(self):
        pages = [("/", "#conn-state", "Disconnected · OpenVPN"),
                 ("/#servers", "#servers-table", "Berlin"),
                 ("/#account", "#account-expiry", "30 days left"),
                 ("/#settings", "#about", f"Quietway {VERSION}"),
                 ("/?notifypage=true", "#notifications-list", "Maintenance tonight"),
                 ("/?testpage=true", "#test-results", f"answers (version {VERSION})")]
        for path, selector, words in pages:
            with self.subTest(path=path):
                self.open(path)
                until(self.browser, shows(selector, words), f"{words!r} on {path}")
                shot(self.browser, SHOTS, "page-" + (path.strip("/#?").split("=")[0] or "connection") + ".png")
                self.assertEqual(severe_console_lines(self.browser), [], path)
        self.assertTrue(css(self.browser, "#test-results").text.count("✓") >= 1)

    def test_2_connect_and_disconnect_change_the_shown_state(self):
        self.open("/")
        css(self.browser, "#conn-toggle").click()
        until(self.browser, attribute_is("#conn-state", "data-status", "3"), "connected")
        until(self.browser, shows("#conn-server", "tunnel to 10.2.0.2"), "the tunnel's server")
        self.assertIn("Connected", text_of(self.browser, "#status-pill"))
        self.assertEqual(css(self.browser, "#conn-toggle").text, "Disconnect")
        self.assertFalse(css(self.browser, "#conn-mode input[value='0']").is_enabled())
        shot(self.browser, SHOTS, "web-connection.png")
        self.open("/?testpage=true")
        until(self.browser, shows("[data-check=server]", "Berlin carries the tunnel at 10.2.0.2"),
              "the connection test's server line")
        until(self.browser, shows("[data-check=leak]", "not configured"), "the leak check's state")
        shot(self.browser, SHOTS, "web-test-connected.png")
        self.open("/")
        until(self.browser, shows("#conn-toggle", "Disconnect"), "the disconnect button")
        css(self.browser, "#conn-toggle").click()
        until(self.browser, attribute_is("#conn-state", "data-status", "1"), "disconnected")
        self.assertEqual(self.status(), "1")
        self.assertEqual(severe_console_lines(self.browser), [])

    def test_3_failed_calls_show_a_sentence_and_keep_what_was_entered(self):
        self.apply_account("bob", "wrong", release_first=True)
        until(self.browser, shows("#account-error", "could not be applied"), "the account error")
        self.assertEqual(css(self.browser, "#account-form [name=user]").get_attribute("value"), "bob")
        self.assertEqual(css(self.browser, "#account-form [name=password]").get_attribute("value"), "wrong")
        self.assertIn("Failed", text_of(self.browser, "#account-outcome-list"))
        shot(self.browser, SHOTS, "web-account-failed.png")
        # The servers failed to prepare, so one cannot be selected.
        self.open("/#servers")
        until(self.browser, lambda d: self.row("Amsterdam"), "the server list")
        self.click_in_row("Amsterdam", "Select")
        until(self.browser, shows("#servers-error", "not ready"), "the select error")
        # Settings cannot change while connected; the boxes keep the user's choice.
        api(self.port, "start_privacy")
        self.open("/#settings")
        until(self.browser, lambda d: css(d, "#settings-form [name=use_firewall]").is_selected(), "settings")
        css(self.browser, "#settings-form [name=use_firewall]").click()
        css(self.browser, "#settings-form button").click()
        until(self.browser, shows("#settings-error", "only be changed while disconnected"), "the settings error")
        self.assertFalse(css(self.browser, "#settings-form [name=use_firewall]").is_selected())
        self.assertEqual(api(self.port, "get_general")["use_firewall"], 1)
        api(self.port, "get_general")  # connecting is seen once, then connected
        self.assertEqual(api(self.port, "stop_privacy")["error"], 0)

    def test_4_a_server_is_added_prepared_selected_edited_and_deleted(self):
        self.open("/#servers")
        fill(self.browser, "#server-form [name=name]", "Copenhagen")
        fill(self.browser, "#server-form [name=address]", "vpn3.example")
        css(self.browser, "#server-submit").click()
        until(self.browser, lambda d: self.row("Copenhagen"), "the added server")
        self.assertIn("Not prepared", self.row("Copenhagen").text)
        self.assertEqual(css(self.browser, "#server-form [name=name]").get_attribute("value"), "")

        self.apply_account("alice", "right", release_first=False)
        until(self.browser, shows("#account-progress", "Preparing 3 servers…"), "the progress state")
        shot(self.browser, SHOTS, "web-account-preparing.png")
        open(self.gate, "w").close()
        until(self.browser, lambda d: text_of(d, "#account-outcome-list").count("Ready") == 3, "three ready")
        self.assertEqual(text_of(self.browser, "#account-error"), "")
        shot(self.browser, SHOTS, "web-account.png")

        self.open("/#servers")
        until(self.browser, lambda d: self.row("Copenhagen"), "the server list")
        self.click_in_row("Copenhagen", "Select")
        until(self.browser, lambda d: "Selected" in self.row("Copenhagen").text, "Copenhagen selected")
        self.click_in_row("Copenhagen", "Edit")
        fill(self.browser, "#server-form [name=name]", "Copenhagen 2")
        css(self.browser, "#server-submit").click()
        until(self.browser, lambda d: self.row("Copenhagen 2"), "the edited server")
        self.click_in_row("Berlin", "Delete")
        self.click_in_row("Berlin", "Really delete?")
        until(self.browser, lambda d: self.row("Berlin") is None, "Berlin deleted")
        shot(self.browser, SHOTS, "web-servers.png")
        servers = {s["name"]: s for s in api(self.port, "get_servers")["servers"]}
        self.assertEqual(sorted(servers), ["Amsterdam", "Copenhagen 2"])
        self.assertEqual(servers["Copenhagen 2"]["activated"], 1)
        self.open("/")
        until(self.browser, shows("#conn-server", "Copenhagen 2 (vpn3.example)"), "the selected server")
        self.assertEqual(severe_console_lines(self.browser), [])

    def test_5_the_connection_type_changes_while_disconnected(self):
        self.open("/")
        css(self.browser, "#conn-mode input[value='0']").click()
        until(self.browser, shows("#status-pill", "SSH proxy"), "the SSH proxy mode")
        self.assertEqual(api(self.port, "get_general")["privacy_mode"], 0)
        css(self.browser, "#conn-mode input[value='2']").click()
        until(self.browser, shows("#status-pill", "OpenVPN"), "the OpenVPN mode")
        self.assertEqual(api(self.port, "get_general")["privacy_mode"], 2)

    def test_6_another_origin_cannot_read_the_credential_or_call_the_api(self):
        self.assertEqual(self.status(), "1")
        pages = tempfile.mkdtemp(dir=self.work.name)
        with open(os.path.join(pages, "other.html"), "w") as page:
            page.write(FOREIGN_PAGE.replace("API_PORT", str(self.port)))
        other = http.server.ThreadingHTTPServer(("127.0.0.1", free_port()),
                                                functools.partial(QuietFiles, directory=pages))
        threading.Thread(target=other.serve_forever, daemon=True).start()
        try:
            self.browser.get(f"http://127.0.0.1:{other.server_address[1]}/other.html")
            until(self.browser, lambda d: d.title == "done", "the other page's attempts")
            results = json.loads(css(self.browser, "#out").text)
        finally:
            other.shutdown()
            other.server_close()
        self.assertEqual(sorted(results), ["fetch", "fetch-no-cors", "form-post", "guessed-post",
                                           "iframe", "script"])
        everything = json.dumps(results)
        for secret in (PASSWORD, AUTHORIZATION):
            self.assertNotIn(secret, everything)
        for name in ("fetch", "script", "iframe", "guessed-post"):
            self.assertTrue(results[name].startswith("blocked"), f"{name}: {results[name]}")
        self.assertEqual(results["fetch-no-cors"], "read: opaque ")
        # Nothing was started although a server is selected and a start would succeed.
        self.assertEqual(self.status(), "1")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
