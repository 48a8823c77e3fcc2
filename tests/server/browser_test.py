"""The catalogue, the reader and publishing by upload in headless Chromium.

Usage: browser_test.py VELLIX_TOOL SAMPLE_DOCUMENTS TEST_DATA SCREENSHOT_DIR

Builds a shelf of its own with the tool, serves it on a free loopback port
and drives Debian's Chromium through Selenium, as a person would: typing in
the search box, paging with the arrow keys, uploading a document. The
screenshots of each step go to SCREENSHOT_DIR.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

try:
    from selenium import webdriver
    from selenium.common.exceptions import NoAlertPresentException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support import expected_conditions as EC
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:  # pragma: no cover
    webdriver = None

TOOL, DOCUMENTS, TEST_DATA, SCREENSHOTS = sys.argv[1:5]
TOKEN = "browser-test-token"
MARKUP_TITLE = "<script>window.pwned=1;alert('x')</script> Poems & <b>Bold</b>"


def run(*args):
    return subprocess.run([TOOL, *args], check=True, capture_output=True, text=True).stdout


class BrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if webdriver is None or not shutil.which("chromedriver"):
            raise unittest.SkipTest("chromium-driver and python3-selenium are not installed "
                                    "(scripts/install_browser.sh installs them)")
        cls.work = tempfile.mkdtemp(prefix="vellix-browser-")
        cls.shelf = os.path.join(cls.work, "shelf")
        os.mkdir(cls.shelf)
        for name in ("river-walk.txt", "kitchen-notebook.htm"):
            shutil.copy(os.path.join(DOCUMENTS, name), cls.work)
        run("shelf", "add", cls.shelf, os.path.join(cls.work, "river-walk.txt"),
            "--title", "A Walk by the River", "--author", "Tom Hale", "--category", "Travel")
        # A long document people have: the licence text, many pages.
        shutil.copy(os.path.join(TEST_DATA, "apache-2.0.txt"), cls.work)
        run("shelf", "add", cls.shelf, os.path.join(cls.work, "apache-2.0.txt"),
            "--title", "Apache License 2.0", "--author", "The Apache Software Foundation", "--category", "Licences")
        poem = os.path.join(cls.work, "poem.txt")
        with open(poem, "w", encoding="utf-8") as f:
            f.write("Roses and rain.\n\nA second verse.\n")
        run("shelf", "add", cls.shelf, poem, "--title", MARKUP_TITLE, "--author", "Anon", "--category", "Poetry")

        cls.server = subprocess.Popen(
            [TOOL, "serve", cls.shelf, "--port", "0", "--upload-token", TOKEN],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = ""
        deadline = time.time() + 20
        while "at http://" not in line and time.time() < deadline:
            line = cls.server.stdout.readline()
        match = re.search(r"at (http://127\.0\.0\.1:\d+/)", line)
        if not match:
            cls.server.kill()
            raise RuntimeError("the server did not start: " + line)
        cls.root = match.group(1)

        options = webdriver.ChromeOptions()
        cls.profile = tempfile.mkdtemp(prefix="vellix-chromium-")
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--window-size=1100,900", "--user-data-dir=" + cls.profile):
            options.add_argument(flag)
        options.binary_location = shutil.which("chromium")
        cls.driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
        cls.driver.set_page_load_timeout(60)
        os.makedirs(SCREENSHOTS, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.server.send_signal(signal.SIGTERM)
        try:
            cls.server.wait(timeout=30)
        except subprocess.TimeoutExpired:
            cls.server.kill()
        shutil.rmtree(cls.work, ignore_errors=True)
        shutil.rmtree(cls.profile, ignore_errors=True)

    def wait(self, condition, seconds=30):
        return WebDriverWait(self.driver, seconds).until(condition)

    def visible_rows(self):
        return [r for r in self.driver.find_elements(By.CSS_SELECTOR, "#books tbody tr") if r.is_displayed()]

    def assert_no_alert(self):
        with self.assertRaises(NoAlertPresentException):
            self.driver.switch_to.alert.text

    def test_1_catalogue_search_narrows_rows_and_markup_stays_text(self):
        d = self.driver
        d.get(self.root)
        self.assertEqual(len(self.visible_rows()), 3)
        self.assert_no_alert()
        self.assertIsNone(d.execute_script("return window.pwned === undefined ? null : window.pwned"))
        titles = [e.text for e in d.find_elements(By.CSS_SELECTOR, "#books td.title")]
        self.assertIn(MARKUP_TITLE, titles)
        self.assertEqual(d.find_elements(By.CSS_SELECTOR, "#books td.title b"), [])
        d.save_screenshot(os.path.join(SCREENSHOTS, "serve-catalogue.png"))

        box = d.find_element(By.ID, "q")
        box.send_keys("river")
        self.wait(lambda _: len(self.visible_rows()) == 1)
        self.assertIn("A Walk by the River", self.visible_rows()[0].text)
        self.assertEqual(d.find_element(By.ID, "count").text, "1 book of 3")
        d.save_screenshot(os.path.join(SCREENSHOTS, "serve-catalogue-search.png"))
        box.clear()
        box.send_keys("nothing like this")
        self.wait(lambda _: len(self.visible_rows()) == 0)

    def test_2_reader_pages_with_arrow_keys(self):
        d = self.driver
        d.get(self.root)
        d.find_element(By.LINK_TEXT, "Apache License 2.0").click()
        position = self.wait(EC.presence_of_element_located((By.ID, "position")))
        match = re.fullmatch(r"Page 1 of (\d+)", position.text)
        self.assertIsNotNone(match, position.text)
        pages = int(match.group(1))
        self.assertGreater(pages, 1)
        self.wait(lambda _: d.execute_script("return document.getElementById('page').naturalWidth") == 480)
        d.find_element(By.TAG_NAME, "body").send_keys(Keys.ARROW_RIGHT)
        self.wait(lambda _: d.find_element(By.ID, "position").text == "Page 2 of %d" % pages)
        self.wait(lambda _: d.execute_script(
            "var i = document.getElementById('page'); return i.complete && i.naturalWidth") == 480)
        d.save_screenshot(os.path.join(SCREENSHOTS, "serve-reader.png"))
        d.find_element(By.TAG_NAME, "body").send_keys(Keys.ARROW_LEFT)
        self.wait(lambda _: d.find_element(By.ID, "position").text == "Page 1 of %d" % pages)

    def test_3_upload_publishes_with_progress(self):
        d = self.driver
        d.get(self.root)
        d.find_element(By.ID, "file").send_keys(os.path.join(self.work, "kitchen-notebook.htm"))
        d.find_element(By.ID, "title").send_keys("Uploaded Notebook")
        d.find_element(By.ID, "author").send_keys("Browser Test")
        d.find_element(By.ID, "category").send_keys("Cooking")
        d.find_element(By.ID, "token").send_keys(TOKEN)
        d.find_element(By.CSS_SELECTOR, "#publish-form button[type=submit]").click()
        done = self.wait(EC.presence_of_element_located((By.CSS_SELECTOR, "#publish-events li.done")), 180)
        self.assertEqual(done.text, "Published: Uploaded Notebook")
        events = [e.text for e in d.find_elements(By.CSS_SELECTOR, "#publish-events li")]
        self.assertTrue(any(e.startswith("Source 1 of") for e in events), events)
        self.assertEqual(d.find_element(By.ID, "upload-progress").get_attribute("value"), "100")
        d.find_element(By.ID, "publish").location_once_scrolled_into_view
        d.save_screenshot(os.path.join(SCREENSHOTS, "serve-upload.png"))
        d.get(self.root)
        self.assertEqual(len(self.visible_rows()), 4)
        self.assertIn("Uploaded Notebook", d.find_element(By.ID, "books").text)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
