#!/usr/bin/env python3
"""The search page of qor-serve in headless Chromium (Selenium): a number typed finds its
listing; a region and a pattern find names. Saves a screenshot of a phone-sized window.
Exits 77 (skipped) only when Chromium or its driver is not installed.

Usage: page_test.py --serve PATH --sample-dir DIR --screenshot FILE"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile

CHROMIUM, DRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"


def main():
    parser = argparse.ArgumentParser()
    for name in ("--serve", "--sample-dir", "--screenshot"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    if not (os.path.exists(CHROMIUM) and os.path.exists(DRIVER)):
        print(f"SKIPPED: {CHROMIUM} or {DRIVER} is not installed "
              "(apt-get install chromium chromium-driver)", flush=True)
        sys.exit(77)
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select, WebDriverWait

    server = subprocess.Popen([args.serve, "--listen", "127.0.0.1:0", "--quiet",
                               "--dir", args.sample_dir + "/dict",
                               "--corrections", args.sample_dir + "/corrections"],
                              stderr=subprocess.PIPE, encoding="utf-8")
    line = server.stderr.readline()
    port = int(line.rsplit(":", 1)[1].strip("/\n"))
    profile = tempfile.mkdtemp(prefix="qor_page_")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync",
                 f"--user-data-dir={profile}"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    try:
        # A phone's screen: 390 x 844 CSS pixels (headless windows cannot be that narrow).
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 390, "height": 844, "deviceScaleFactor": 1,
                                "mobile": True})
        driver.get(f"http://127.0.0.1:{port}/")
        wait = WebDriverWait(driver, 20)
        # The table's texts in one step, so that a table being replaced is never half read.
        rows = lambda: driver.execute_script(
            "return [...document.querySelectorAll('#results tbody tr')]"
            ".map(tr => [...tr.cells].map(td => td.textContent))")

        driver.find_element(By.ID, "number").send_keys("+81 3-7908-6562")
        driver.find_element(By.ID, "number-search").click()
        wait.until(lambda d: rows())
        found = rows()
        assert len(found) == 1 and found[0][1] == "株式会社三瀬建設", found
        assert found[0][0] == "03-7908-6562", found

        # The region picker is filled from /v1/regions.
        region = Select(driver.find_element(By.ID, "region"))
        wait.until(lambda d: len(region.options) > 100)
        region.select_by_value("13101")
        assert "千代田区" in region.first_selected_option.text
        driver.find_element(By.ID, "pattern").send_keys("佐藤*")
        driver.find_element(By.ID, "name-search").click()
        wait.until(lambda d: rows() and rows()[0][1] != "株式会社三瀬建設")
        names = [r[1] for r in rows()]
        assert len(names) > 1 and all(n.startswith("佐藤") for n in names), names
        status = driver.find_element(By.ID, "status").text
        assert "件" in status, status

        # An error is shown, not a table.
        driver.find_element(By.ID, "pattern").clear()
        driver.find_element(By.ID, "pattern").send_keys("**")
        driver.find_element(By.ID, "name-search").click()
        wait.until(lambda d: "blank" in d.find_element(By.ID, "status").text)
        assert rows() == []

        driver.find_element(By.ID, "pattern").clear()
        driver.find_element(By.ID, "pattern").send_keys("佐藤*")
        driver.find_element(By.ID, "name-search").click()
        wait.until(lambda d: len(rows()) > 1)
        # The page fits a phone's width: no horizontal scrolling of the document.
        width = driver.execute_script("return document.documentElement.scrollWidth")
        inner = driver.execute_script("return window.innerWidth")
        assert width <= inner, (width, inner)
        os.makedirs(os.path.dirname(os.path.abspath(args.screenshot)), exist_ok=True)
        driver.save_screenshot(args.screenshot)
        print(f"ok: number and name searches; screenshot {args.screenshot}")
    finally:
        driver.quit()
        server.send_signal(signal.SIGTERM)
        code = server.wait(timeout=15)
        shutil.rmtree(profile, ignore_errors=True)
    if code != 0:
        sys.exit(f"qor-serve exited {code}")


if __name__ == "__main__":
    main()
