"""Headless Chromium through chromedriver, and plain calls to the control API, for the web
interface's tests. Run with /usr/bin/python3 (Debian's selenium)."""
import http.client
import json
import os
import socket

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

WAIT_SECONDS = 60


def start_browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-dev-shm-usage", "--window-size=1000,780"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    # Sockets the browser opens ahead of need hold the server's two workers until they time
    # out, which keeps the test's own calls waiting.
    options.add_experimental_option("prefs", {"net.network_prediction_options": 2})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def until(driver, condition, what, seconds=WAIT_SECONDS):
    """Waits for condition(driver) to be truthy; the failure message says what was awaited."""
    # Pages redraw their lists, so an element found a moment ago may be gone: look again.
    return WebDriverWait(driver, seconds, poll_frequency=0.1,
                         ignored_exceptions=[StaleElementReferenceException]).until(
        condition, f"waited {seconds} s for {what}")


def css(driver, selector):
    return driver.find_element(By.CSS_SELECTOR, selector)


def text_of(driver, selector):
    elements = driver.find_elements(By.CSS_SELECTOR, selector)
    return elements[0].text if elements and elements[0].is_displayed() else ""


def shows(selector, words):
    return lambda driver: words in text_of(driver, selector)


def attribute_is(selector, name, value):
    return lambda driver: css(driver, selector).get_attribute(name) == value


def severe_console_lines(driver):
    return [entry["message"] for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]


def shot(driver, directory, name):
    os.makedirs(directory, exist_ok=True)
    driver.save_screenshot(os.path.join(directory, name))


def fill(driver, selector, text):
    field = css(driver, selector)
    field.clear()
    field.send_keys(text)


def api(port, method, params=None):
    """One control API call as a local program makes it: credential first, then the POST."""
    credential = http_get(port, "/api/credential")
    body = {"jsonrpc": "2.0", "method": method, "id": 1}
    if params is not None:
        body["params"] = params
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=180)
    try:
        connection.request("POST", "/", json.dumps(body),
                           {"Authorization": json.loads(credential)["authorization"]})
        return json.loads(connection.getresponse().read())
    finally:
        connection.close()


def http_get(port, path):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    try:
        connection.request("GET", path)
        return connection.getresponse().read().decode()
    finally:
        connection.close()
