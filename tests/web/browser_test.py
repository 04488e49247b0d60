#!/usr/bin/python3
"""The web console in a real browser (Debian's chromium through chromium-driver):
log in, upload a WAV and add it to the music list, give both tracks a 09:00-17:00
schedule and see the coverage line change, pause and play and see the status follow.

Usage: browser_test.py TONEWELL_EXE [SCREENSHOT.png]
"""

import math
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import wave

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

EXE = sys.argv[1]
SHOT = sys.argv[2] if len(sys.argv) > 2 else None
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def tone(path, seconds, hz, rate=44100):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(struct.pack("<h", int(12000 * math.sin(2 * math.pi * hz * i / rate)))
                               for i in range(int(seconds * rate))))


AXE = os.environ.get("TONEWELL_AXE") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "npm", "node_modules", "axe-core",
    "axe.min.js")


def axe(driver, what):
    """axe-core's violations on the page as it is now: none expected."""
    if not os.path.exists(AXE):
        check(False, f"axe-core is at {AXE} (scripts/test installs it)")
        return
    driver.execute_script(open(AXE).read())
    found = driver.execute_async_script(
        "const done = arguments[0]; axe.run(document).then(r => done(r.violations.map("
        "v => v.id + ' x' + v.nodes.length + ' ' + v.nodes[0].target))).catch(e => done(['error ' + e]));")
    check(not found, f"axe-core finds nothing on {what} {found}")


def phone(driver, what):
    """At 360 px wide: no sideways scrolling, every target at least 44 x 44 px."""
    driver.set_window_size(360, 800)
    time.sleep(0.5)
    wide = driver.execute_script("return [document.documentElement.scrollWidth, window.innerWidth]")
    small = driver.execute_script("""return [...document.querySelectorAll('button, select, input, audio')]
        .filter(e => e.offsetParent !== null)
        .map(e => [e.id || e.className || e.tagName, e.getBoundingClientRect()])
        .filter(([n, r]) => r.width < 44 || r.height < 44)
        .map(([n, r]) => n + ' ' + Math.round(r.width) + 'x' + Math.round(r.height))""")
    check(wide[0] <= wide[1], f"{what} at 360 px: {wide[0]} px wide in a {wide[1]} px window")
    check(not small, f"{what} at 360 px: targets under 44 px: {small}")
    if SHOT:
        driver.save_screenshot(SHOT.replace(".png", "-phone.png"))
    driver.set_window_size(1200, 1000)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    work = tempfile.mkdtemp(prefix="tonewell-browser-")
    proc = None
    driver = None
    try:
        os.makedirs(f"{work}/sounds/Music Tracks/T")
        os.makedirs(f"{work}/sounds/Voice Messages/V")
        tone(f"{work}/sounds/Music Tracks/T/a.wav", 60, 440)
        tone(f"{work}/sounds/Voice Messages/V/m.wav", 2, 1000, 8000)
        tone(f"{work}/upload.wav", 3, 660)
        tone(f"{work}/sounds/Music Tracks/T/An uncommonly long name for a track that goes on and on.wav", 1, 440)
        plain = "false 2008 1 1 2008 1 1 false 0 0 0 0 0 0"
        with open(f"{work}/audio.cfg", "w") as f:
            f.write(f"[VOICE]\n30\n10\n0\n\n[MUSIC]\n1\n10\n0\n\n[MUSIC_LIST]\n"
                    f"sounds\\Music Tracks\\T\\a.wav\n{plain}\n.\n\n[VOICE_LIST]\n"
                    f"sounds\\Voice Messages\\V\\m.wav\n{plain}\n.\n\n")
        subprocess.run([EXE, "--set-web-password", "--workdir", work], input=b"page pass\n",
                       check=True, stderr=subprocess.DEVNULL)
        port = free_port()
        log = open(f"{work}/err.txt", "w")
        proc = subprocess.Popen([EXE, "--headless", "--output", "null", "--log", "--workdir", work,
                                 "--web", f"127.0.0.1:{port}"], stderr=log)
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), 0.2).close()
                break
            except OSError:
                time.sleep(0.1)

        options = webdriver.ChromeOptions()
        for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                    "--window-size=1200,1000", "--use-fake-device-for-media-stream",
                    "--use-fake-ui-for-media-stream"):
            options.add_argument(arg)
        options.binary_location = "/usr/bin/chromium"
        service = Service(executable_path="/usr/bin/chromedriver")
        driver = webdriver.Chrome(options=options, service=service)
        wait = WebDriverWait(driver, 15)
        started = time.monotonic()
        driver.get(f"http://127.0.0.1:{port}/")
        wait.until(lambda d: d.find_element(By.ID, "login").is_displayed())
        check(time.monotonic() - started < 5, "the login form shows")
        check(driver.switch_to.active_element.get_attribute("id") == "password", "the password has the focus")
        axe(driver, "the login page")
        phone(driver, "the login page")
        driver.find_element(By.ID, "password").send_keys("page pass")
        driver.find_element(By.CSS_SELECTOR, "#login-form button").click()
        wait.until(lambda d: d.find_element(By.ID, "console").is_displayed())
        wait.until(lambda d: d.find_element(By.ID, "status").text.startswith("Playing T\\a.wav"))
        check(True, "logged in, the status says what plays")
        wait.until(lambda d: "playing" in d.find_element(
            By.CSS_SELECTOR, "section[data-kind=music] ul.tracks li").get_attribute("class"))
        check(True, "the track that plays is marked in its list")
        wait.until(lambda d: " of 1:00" in d.find_element(By.ID, "played").text)
        check(True, "the page says how far the song has played: " + driver.find_element(By.ID, "played").text)
        axe(driver, "the console")
        phone(driver, "the console")

        music = driver.find_element(By.CSS_SELECTOR, "section[data-kind=music]")
        music.find_element(By.CSS_SELECTOR, "input.file").send_keys(f"{work}/upload.wav")
        wait.until(lambda d: "T\\upload.wav 0:03" in music.find_element(By.CSS_SELECTOR, "ul.tracks").text)
        check(os.path.exists(f"{work}/sounds/Music Tracks/T/upload.wav"), "the upload is stored")
        check("sounds\\Music Tracks\\T\\upload.wav" in open(f"{work}/audio.cfg").read(),
              "and added to the music list in audio.cfg")

        coverage = music.find_element(By.CSS_SELECTOR, ".coverage")
        check(coverage.text == "Music plays at every hour of the year.", "coverage before: " + coverage.text)
        for box in music.find_elements(By.CSS_SELECTOR, "ul.tracks input"):
            box.click()
        music.find_element(By.CSS_SELECTOR, ".time-on").click()
        driver.execute_script("arguments[0].value = '09:00'; arguments[1].value = '17:00';",
                              music.find_element(By.CSS_SELECTOR, ".time-from"),
                              music.find_element(By.CSS_SELECTOR, ".time-to"))
        music.find_element(By.CSS_SELECTOR, "button[data-act=schedule]").click()
        wait.until(lambda d: coverage.text != "Music plays at every hour of the year.")
        check(coverage.text == "No music after 17:00 until 09:00 every day.", "coverage after: " + coverage.text)
        check("true 9 0 0 17 0 0" in open(f"{work}/audio.cfg").read(), "the schedule is saved")
        # Dates are a month and a day, every year.
        from selenium.webdriver.support.ui import Select
        for box in music.find_elements(By.CSS_SELECTOR, "ul.tracks input"):
            box.click()
        music.find_element(By.CSS_SELECTOR, ".date-on").click()
        for end, month, day in (("date-from", "March", "20"), ("date-to", "February", "29")):
            Select(music.find_element(By.CSS_SELECTOR, f".{end}.month")).select_by_visible_text(month)
            Select(music.find_element(By.CSS_SELECTOR, f".{end}.day")).select_by_visible_text(day)
        music.find_element(By.CSS_SELECTOR, "button[data-act=schedule]").click()
        wait.until(lambda d: "20 Mar to 29 Feb, every year" in music.find_element(By.CSS_SELECTOR, "ul.tracks").text)
        check("true 2000 3 20 2000 2 29 true 9 0 0 17 0 0" in open(f"{work}/audio.cfg").read(),
              "a date range from a month and a day is saved")

        driver.find_element(By.ID, "pause").click()
        wait.until(lambda d: d.find_element(By.ID, "status").text == "Paused")
        driver.find_element(By.ID, "play").click()
        wait.until(lambda d: d.find_element(By.ID, "status").text != "Paused")
        check(True, "pause and play, and the status follows")
        # A file of the sounds folder heard in the page.
        music.find_element(By.CSS_SELECTOR, "button[data-act=preview]").click()
        wait.until(lambda d: (d.execute_script(
            "return arguments[0].duration || 0", music.find_element(By.CSS_SELECTOR, "audio.preview")) or 0) > 0)
        check(True, "a file is previewed in the page")
        # A message recorded with the browser's (fake) microphone: heard back in the
        # page, saved into Custom, added to the voice list and played by the player.
        driver.find_element(By.ID, "record").click()
        time.sleep(3)
        driver.find_element(By.ID, "stop").click()
        wait.until(lambda d: d.find_element(By.ID, "take").is_displayed())
        driver.find_element(By.ID, "take-name").send_keys("Browser take")
        driver.find_element(By.ID, "save-take").click()
        wait.until(lambda d: "Saved as" in d.find_element(By.ID, "message").text)
        path = f"{work}/sounds/Voice Messages/Custom/Browser take.wav"
        check(os.path.exists(path) and os.path.getsize(path) > 44 + 2 * 8000 * 2,
              "the recording is saved in Custom with at least 2 s of sound")
        with wave.open(path) as w:
            frames = w.readframes(w.getnframes())
        samples = struct.unpack(f"<{len(frames) // 2}h", frames)
        check(max(abs(v) for v in samples) > 1000, "and it holds sound, not silence")
        voice = driver.find_element(By.CSS_SELECTOR, "section[data-kind=voice] ul.tracks").text
        check("Custom\\Browser take.wav" in voice, "it is on the voice list")
        # Alone on the list, every 10 s: the player plays it.
        voice_section = driver.find_element(By.CSS_SELECTOR, "section[data-kind=voice]")
        voice_section.find_elements(By.CSS_SELECTOR, "ul.tracks input")[0].click()
        voice_section.find_element(By.CSS_SELECTOR, "button[data-act=remove]").click()
        wait.until(lambda d: "V\\m.wav" not in voice_section.find_element(By.CSS_SELECTOR, "ul.tracks").text)
        driver.execute_script("arguments[0].value = '10'; arguments[0].dispatchEvent(new Event('change'));",
                              voice_section.find_element(By.CSS_SELECTOR, ".gap"))
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and \
                "status - play voice Custom\\Browser take.wav" not in open(f"{work}/err.txt").read():
            time.sleep(0.5)
        check("status - play voice Custom\\Browser take.wav" in open(f"{work}/err.txt").read(),
              "the player plays it")
        if SHOT:
            driver.save_screenshot(SHOT)
        check("page pass" not in open(f"{work}/err.txt").read(), "no password in the log")

        # Listening as Chromium asks for it, with a range: a live stream is 200.
        listened = driver.execute_async_script("""
            const done = arguments[0], abort = new AbortController();
            fetch('/api/listen', {headers: {Range: 'bytes=0-'}, signal: abort.signal})
              .then(r => { done(r.status); abort.abort(); }).catch(e => done(String(e)));""")
        check(listened == 200, f"listening with a range is answered 200 ({listened})")
        # A second tab of the session makes changes too.
        first = driver.current_window_handle
        driver.switch_to.new_window("tab")
        driver.get(f"http://127.0.0.1:{port}/")
        wait.until(lambda d: d.find_element(By.ID, "console").is_displayed())
        driver.find_element(By.ID, "pause").click()
        wait.until(lambda d: d.find_element(By.ID, "status").text == "Paused")
        driver.find_element(By.ID, "play").click()
        wait.until(lambda d: d.find_element(By.ID, "status").text != "Paused")
        check(True, "a second tab pauses and plays")
        driver.close()
        driver.switch_to.window(first)
        # The player stops: within two polls the page says so.
        proc.send_signal(signal.SIGTERM)
        check(proc.wait(10) == 0, "tonewell ends cleanly")
        proc = None
        wait.until(lambda d: d.find_element(By.ID, "lost").is_displayed())
        check("stale" in driver.find_element(By.ID, "status").get_attribute("class"),
              "the page says the connection is lost and greys the status")
    except Exception as e:  # a wait that timed out, or a browser that did not start
        check(False, f"{type(e).__name__}: {e}")
    finally:
        if driver:
            driver.quit()
        if proc:
            proc.send_signal(signal.SIGTERM)
            try:
                check(proc.wait(10) == 0, "tonewell ends cleanly")
            except subprocess.TimeoutExpired:
                proc.kill()
                check(False, "tonewell ends cleanly")
        shutil.rmtree(work, ignore_errors=True)
    print(f"{len(failures) == 0 and 1 or 0} passed, {len(failures) and 1 or 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
