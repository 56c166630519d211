#!/usr/bin/env python3
"""Checks the generated documentation site.

Headless Chromium opens the main page, the CConnection class page and the
host-program guide: each must render (a screenshot of some substance) and its
DOM must hold the page's headings. Then every HTML file of the site is walked
for internal links: a link to a local file that does not exist, or to a
#fragment that its target does not define, is an error.

Exit status: 0 all good, 1 a check failed, 77 no Chromium (the test is skipped).
"""
import argparse
import concurrent.futures
import html
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

# page -> strings its rendered DOM must contain: the title, headings, members
PAGES = {
    'index.html': ['SharedLib', 'Guides', 'The subsystems', 'Writing a host program', 'class="dotgraph"'],
    'classCConnection.html': ['CConnection Class Reference', 'Public Member Functions', 'Per-frame driving',
                              'HandleEvent', 'Preprocess'],
    'host_program.html': ['Writing a host program', 'The frame', 'Shutdown', 'HostLoop::Frame', 'class="dotgraph"'],
}
MIN_SCREENSHOT_BYTES = 8000
BROWSER_TIMEOUT = 30
PARALLEL_BROWSERS = 3


def chromium(binary, profile, *arguments):
    """Runs headless Chromium with a profile of its own; returns its output."""
    command = [binary, '--headless', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage',
               '--no-first-run', '--hide-scrollbars', '--disable-extensions', '--mute-audio',
               f'--user-data-dir={profile}', '--window-size=1280,1000', *arguments]
    try:
        return subprocess.run(command, capture_output=True, text=True, timeout=BROWSER_TIMEOUT,
                              check=False).stdout
    except subprocess.TimeoutExpired:
        return ''


def render(binary, site, work, page):
    """Screenshot and DOM of one page, each from a browser of its own."""
    url = (site / page).resolve().as_uri()
    shot = work / (pathlib.Path(page).stem + '.png')
    shot.unlink(missing_ok=True)
    with tempfile.TemporaryDirectory(prefix='sharedlib-docs-chromium-') as profile:
        chromium(binary, profile, f'--screenshot={shot}', url)
    with tempfile.TemporaryDirectory(prefix='sharedlib-docs-chromium-') as profile:
        dom = chromium(binary, profile, '--dump-dom', url)
    (work / (pathlib.Path(page).stem + '.dom.html')).write_text(dom, encoding='utf-8')
    return shot, dom


def check_pages(binary, site, work):
    failures = []
    pages = [page for page in PAGES if (site / page).is_file()]
    failures += [f'{page}: not generated' for page in PAGES if page not in pages]
    with concurrent.futures.ThreadPoolExecutor(PARALLEL_BROWSERS) as pool:
        results = dict(zip(pages, pool.map(lambda page: render(binary, site, work, page), pages)))
    for page, (shot, dom) in results.items():
        size = shot.stat().st_size if shot.is_file() else 0
        if size < MIN_SCREENSHOT_BYTES:
            failures.append(f'{page}: screenshot of {size} bytes, expected at least {MIN_SCREENSHOT_BYTES}')
        elif shot.read_bytes()[:8] != b'\x89PNG\r\n\x1a\n':
            failures.append(f'{page}: the screenshot is not a PNG image')
        if not dom:
            failures.append(f'{page}: the browser gave no DOM')
        for text in PAGES[page]:
            if dom and text not in dom:
                failures.append(f'{page}: "{text}" missing from the rendered page')
        # The diagrams the page shows are real drawings.
        for graph in sorted(set(re.findall(r'dot_inline_dotgraph_\d+\.svg', dom))):
            drawing = site / graph
            if not drawing.is_file() or b'<svg' not in drawing.read_bytes()[:2000] or drawing.stat().st_size < 1000:
                failures.append(f'{page}: the diagram {graph} is missing or empty')
        print(f'{page}: screenshot {size} bytes, DOM {len(dom)} characters')
    return failures


ATTRIBUTE = re.compile(r'<(\w+)\b([^>]*)>')
VALUE = re.compile(r'\b(id|name|href|src)\s*=\s*"([^"]*)"')


class Page:
    """The links and the anchors of one HTML file."""

    def __init__(self, path):
        self.links = []
        self.anchors = set()
        text = path.read_text(encoding='utf-8', errors='replace')
        for tag, attributes in ATTRIBUTE.findall(text):
            for name, value in VALUE.findall(attributes):
                value = html.unescape(value)
                if name in ('id', 'name'):
                    self.anchors.add(value)
                elif name == 'href' or tag in ('img', 'script', 'iframe'):
                    self.links.append(value)


def parse(path, cache):
    if path not in cache:
        cache[path] = Page(path)
    return cache[path]


def check_links(site):
    failures = []
    cache = {}
    files = sorted(site.rglob('*.html'))
    checked = 0
    for source in files:
        for link in parse(source, cache).links:
            parts = urllib.parse.urlsplit(link)
            if parts.scheme or parts.netloc or link.startswith('javascript:'):
                continue
            target = source if not parts.path else (source.parent / urllib.parse.unquote(parts.path)).resolve()
            checked += 1
            where = source.relative_to(site)
            if not target.exists():
                failures.append(f'{where}: link to a missing file: {link}')
                continue
            if parts.fragment and target.suffix == '.html':
                if parts.fragment not in parse(target, cache).anchors:
                    failures.append(f'{where}: link to a missing anchor: {link}')
    print(f'{len(files)} pages, {checked} internal links checked')
    return failures


def main():
    arguments = argparse.ArgumentParser(description=__doc__)
    arguments.add_argument('--chromium', default='')
    arguments.add_argument('--site', required=True, type=pathlib.Path)
    arguments.add_argument('--work', required=True, type=pathlib.Path)
    options = arguments.parse_args()
    binary = options.chromium or shutil.which('chromium') or shutil.which('chromium-browser')
    if not binary or not os.access(binary, os.X_OK):
        print('no Chromium: skipped')
        return 77
    if not (options.site / 'index.html').is_file():
        print(f'no site at {options.site}')
        return 1
    options.work.mkdir(parents=True, exist_ok=True)
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        pages = pool.submit(check_pages, binary, options.site, options.work)
        failures = check_links(options.site)
        failures = pages.result() + failures
    for failure in failures:
        print('FAILED:', failure)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
