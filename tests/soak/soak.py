#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Drives the real OBS Studio GUI through obs-websocket like a streamer with
blur boards would, quits it with SIGTERM and reports how it ended.

Exit status 1 when OBS crashed or did not quit by itself, when the module
reports an unbalanced reference count, or when a known board in the program
output no longer hides the detailed picture beneath it. Sources the host
leaves behind at shutdown are reported, not failed: libobs 32.2.2 loses
scenes while the frontend removes them (see docs/host-notes.md).
"""

import argparse
import asyncio
import ctypes
import json
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

import numpy as np
import simpleobsws
from PIL import Image, ImageDraw, ImageFont

BOARD = "korvanta_blur_board"
CANVAS = (1280, 720)
# The board whose hiding is checked at the end, and a stretch of the picture
# that nothing covers then.
KNOWN = {"x": 760, "y": 400, "w": 400, "h": 240}
REFERENCE = (40, 40, 440, 280)
# The "MistPane: Hide" filter on the picture: at the end it covers this part
# of it (x, y, w, h, in the picture's pixels, which the canvas shows 1:1).
FILTER = "mistpane_hide_filter"
FILTER_REGION = (520, 60, 200, 160)
FILTER_RGB = (0xFF, 0x00, 0x00)
OBS_VERSION = (32 << 24) | (2 << 16) | 2
# Bound to the panic hotkey in the profile, as OBS's settings store it.
PANIC_KEY = "F10"
# The panic cover's settings, opened from the Tools menu (its last entry).
COVER_DIALOG = "Properties for 'MistPane panic cover'"
# The cover's default colour, as the screenshot holds it.
COVER_RGB = (0x30, 0x30, 0x30)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_picture(path, seed):
    """Fine text, hard edges and noise: plenty of detail for a blur to remove."""
    rng = np.random.default_rng(seed)
    img = Image.new("RGB", CANVAS, (235, 235, 225))
    draw = ImageDraw.Draw(img)
    try:
        font = ImageFont.load_default(size=14)
    except TypeError:
        font = ImageFont.load_default()
    words = ["password", "hunter2", "chat", "address", "secret", "token", "mistpane", "0xdeadbeef"]
    for row in range(0, CANVAS[1], 16):
        x = int(rng.integers(0, 12))
        line = " ".join(words[int(i)] for i in rng.integers(0, len(words), 24))
        draw.text((x, row), line, fill=(20, 20, 40), font=font)
    for i in range(40):
        x0, y0 = int(rng.integers(0, CANVAS[0])), int(rng.integers(0, CANVAS[1]))
        draw.line((x0, y0, x0 + int(rng.integers(-300, 300)), y0 + int(rng.integers(-300, 300))),
                  fill=tuple(int(c) for c in rng.integers(0, 255, 3)), width=2)
    pixels = np.asarray(img).astype(np.int16)
    pixels += rng.integers(-18, 18, pixels.shape, dtype=np.int16)
    Image.fromarray(np.clip(pixels, 0, 255).astype(np.uint8)).save(path)


def detail(rgb, box):
    """Mean absolute difference between neighbouring pixels' luminance."""
    x0, y0, x1, y1 = box
    lum = rgb[y0:y1, x0:x1, :3].astype(np.float64) @ np.array([0.299, 0.587, 0.114])
    return float(np.abs(np.diff(lum, axis=0)).mean() + np.abs(np.diff(lum, axis=1)).mean())


def write_profile(home, port, shots):
    cfg = os.path.join(home, ".config", "obs-studio")
    profile = os.path.join(cfg, "basic", "profiles", "Soak")
    os.makedirs(profile)
    os.makedirs(os.path.join(cfg, "basic", "scenes"))
    ws_dir = os.path.join(cfg, "plugin_config", "obs-websocket")
    os.makedirs(ws_dir)
    with open(os.path.join(cfg, "global.ini"), "w") as f:
        f.write(f"[General]\nLastVersion={OBS_VERSION}\n")
    # FirstRun skips the auto-configuration wizard.
    with open(os.path.join(cfg, "user.ini"), "w") as f:
        f.write("[General]\nFirstRun=true\nConfirmOnExit=false\n"
                "[Basic]\nProfile=Soak\nProfileDir=Soak\nSceneCollection=Soak\nSceneCollectionFile=Soak\n")
    with open(os.path.join(profile, "basic.ini"), "w") as f:
        f.write("[General]\nName=Soak\n"
                f"[Video]\nBaseCX={CANVAS[0]}\nBaseCY={CANVAS[1]}\nOutputCX={CANVAS[0]}\nOutputCY={CANVAS[1]}\n"
                "FPSType=0\nFPSCommon=30\n"
                f"[Output]\nMode=Simple\n[SimpleOutput]\nFilePath={shots}\n"
                f'[Hotkeys]\nMistPane.Panic={{"bindings":[{{"key":"OBS_KEY_{PANIC_KEY}"}}]}}\n')
    # Left by a run that quit covered: this one starts covered.
    os.makedirs(os.path.join(cfg, "plugin_config", "mistpane"))
    with open(os.path.join(cfg, "plugin_config", "mistpane", "panic.json"), "w") as f:
        json.dump({"on": True}, f)
    with open(os.path.join(ws_dir, "config.json"), "w") as f:
        json.dump({"first_load": False, "server_enabled": True, "server_port": port,
                   "alerts_enabled": False, "auth_required": False, "server_password": "soak"}, f)


def install_module(home, module, data):
    top = os.path.join(home, ".config", "obs-studio", "plugins", "mistpane")
    os.makedirs(os.path.join(top, "bin", "64bit"))
    shutil.copy(module, os.path.join(top, "bin", "64bit", "mistpane.so"))
    shutil.copytree(data, os.path.join(top, "data"))


class Keyboard:
    """Keys and clicks on the X server, as a person would give them."""

    def __init__(self):
        self.x11, self.xtst = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XFlush.argtypes = self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]

    def __enter__(self):
        self.display = self.x11.XOpenDisplay(None)
        return self

    def __exit__(self, *_):
        self.x11.XCloseDisplay(self.display)

    def key(self, *names):
        """A chord: pressed in order, released in reverse."""
        codes = [self.x11.XKeysymToKeycode(self.display, self.x11.XStringToKeysym(n.encode())) for n in names]
        for down, order in ((1, codes), (0, codes[::-1])):
            for code in order:
                self.xtst.XTestFakeKeyEvent(self.display, code, down, 0)
            self.x11.XFlush(self.display)
            time.sleep(0.2)

    def move(self, x, y):
        self.xtst.XTestFakeMotionEvent(self.display, -1, x, y, 0)
        self.x11.XFlush(self.display)
        time.sleep(0.2)

    def click(self, x, y):
        self.move(x, y)
        for down in (1, 0):
            self.xtst.XTestFakeButtonEvent(self.display, 1, down, 0)
            self.x11.XFlush(self.display)
            time.sleep(0.2)


def press_key(name):
    with Keyboard() as keys:
        keys.key(name)


def window_box(title):
    """(x, y, width, height) of the top-level window of that title, or None."""
    out = subprocess.run(["xwininfo", "-name", title], capture_output=True, text=True)
    if out.returncode != 0:
        return None
    fields = dict(re.findall(r"^\s*(Absolute upper-left X|Absolute upper-left Y|Width|Height):\s+(-?\d+)",
                             out.stdout, re.M))
    if len(fields) != 4:
        return None
    return tuple(int(fields[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))


class Show:
    """The streamer: scenes, boards and the random actions on them."""

    def __init__(self, ws, rng, actions, picture, kind=BOARD):
        self.ws = ws
        self.rng = rng
        self.actions = actions
        self.picture = picture
        # Another source type in the boards' place, for comparison runs.
        self.kind = kind
        self.boards = {}  # name -> (scene, item id)
        self.scenes = ["Main", "Second", "Overlay"]
        self.studio = False
        self.counts = {}
        self.failed = {}
        self.serial = 0
        self.state = {}
        self.last_refusal = ""
        # The panic switch as remote programs see it: the state last set,
        # answers that contradicted it, and the change events received.
        self.panic = False
        self.panic_wrong = []
        self.panic_events = []
        self.filter_wrong = []

    async def on_vendor_event(self, data):
        if data.get("vendorName") == "mistpane" and data.get("eventType") == "PanicChanged":
            self.panic_events.append(data.get("eventData", {}))

    async def vendor(self, request, data=None):
        answer = await self.call("CallVendorRequest", {"vendorName": "mistpane", "requestType": request,
                                                       "requestData": data or {}})
        return (answer or {}).get("responseData", {})

    async def expect_panic(self, on, what):
        # A hotkey switches at the graphics thread's next frame, which a
        # loaded machine may hold back for a while.
        for _ in range(100):
            got = (await self.vendor("GetPanic")).get("on")
            if got is on:
                break
            await asyncio.sleep(0.05)
        if got is not on:
            self.panic_wrong.append(f"{what}: GetPanic said {got}, expected {on}")
        self.panic = on

    async def set_panic(self, on, what):
        got = (await self.vendor("SetPanic", {"on": on})).get("on")
        if got is not on:
            self.panic_wrong.append(f"{what}: SetPanic answered {got}")
        await self.expect_panic(on, what)

    async def call(self, kind, data=None):
        ret = await self.ws.call(simpleobsws.Request(kind, data), timeout=30)
        if not ret.ok():
            self.failed[kind] = self.failed.get(kind, 0) + 1
            self.last_refusal = f"{kind}: {ret.requestStatus.code} {ret.requestStatus.comment}"
        # None when refused; an answer without data reads as {}.
        return (ret.responseData or {}) if ret.ok() else None

    def board_settings(self):
        r = self.rng
        s = {"mode": r.choice(["blur", "mosaic"]), "blur_radius": r.choice([3, 12, 40, 150, 500]),
             "mosaic_size": r.choice([2, 8, 24, 64]), "shape": r.choice(["rect", "ellipse"]),
             "feather": r.choice([0, 0, 10, 60]), "width": r.randint(60, 700), "height": r.randint(40, 400),
             "fade_seconds": r.choice([0, 0.2, 0.5])}
        return s

    def filter_settings(self):
        r = self.rng
        return {"mode": r.choice(["blur", "mosaic", "cover"]), "shape": r.choice(["rect", "rounded", "ellipse"]),
                "corner_radius": r.choice([0, 12, 80]), "invert": r.random() < 0.3,
                "feather": r.choice([0, 0, 10]), "region_x": r.randint(0, 1000), "region_y": r.randint(0, 600),
                "region_width": r.choice([0, 40, 300, 900]), "region_height": r.choice([0, 30, 200, 500]),
                "fade_seconds": r.choice([0, 0.3])}

    async def add_board(self, scene, name, settings, x, y):
        data = await self.call("CreateInput", {"sceneName": scene, "inputName": name, "inputKind": self.kind,
                                               "inputSettings": settings, "sceneItemEnabled": True})
        if data:
            self.boards[name] = (scene, data["sceneItemId"])
            await self.call("SetSceneItemTransform", {"sceneName": scene, "sceneItemId": data["sceneItemId"],
                                                      "sceneItemTransform": {"positionX": x, "positionY": y}})

    async def setup(self):
        # Requests are refused until the frontend has loaded its collection.
        for _ in range(300):
            scenes = await self.call("GetSceneList")
            if scenes:
                break
            await asyncio.sleep(0.2)
        self.failed.clear()
        # Right after startup the frontend is still connecting to libobs's
        # signals: a scene created then from obs-websocket's thread can
        # deadlock OBS (that thread emits holding the signal handler's lock
        # and waits for the UI thread, which waits for that lock).
        await asyncio.sleep(3.0)
        old = scenes["scenes"]
        for scene in self.scenes:
            await self.call("CreateScene", {"sceneName": scene})
        for scene in old:
            if scene["sceneName"] not in self.scenes:
                await self.call("SetCurrentProgramScene", {"sceneName": "Main"})
                await self.call("RemoveScene", {"sceneName": scene["sceneName"]})
        await self.call("CreateInput", {"sceneName": "Main", "inputName": "Picture", "inputKind": "image_source",
                                        "inputSettings": {"file": self.picture}, "sceneItemEnabled": True})
        await self.call("CreateSceneItem", {"sceneName": "Second", "sourceName": "Picture"})
        await self.call("CreateSourceFilter", {"sourceName": "Picture", "filterName": "Hide", "filterKind": FILTER,
                                               "filterSettings": self.filter_settings()})
        for scene in ("Main", "Second"):
            await self.call("CreateSceneItem", {"sceneName": scene, "sourceName": "Overlay"})
        await self.add_board("Main", "Known board", {"mode": "blur", "blur_radius": 24, "width": KNOWN["w"],
                                                     "height": KNOWN["h"], "fade_seconds": 0},
                             KNOWN["x"], KNOWN["y"])
        for scene, n in (("Main", 2), ("Second", 3), ("Overlay", 2)):
            for i in range(n):
                await self.add_board(scene, f"{scene} board {i}", self.board_settings(),
                                     self.rng.randint(-100, 1200), self.rng.randint(-100, 650))
        await self.call("SetCurrentProgramScene", {"sceneName": "Main"})

    async def restored_panic(self):
        """Covered since the start, as the last run left it (a file from
        before the style: the plain cover); the key bound in the profile
        switches it."""
        await self.expect_panic(True, "restored at start")
        style = (await self.vendor("GetPanic")).get("style")
        if style != "cover":
            self.panic_wrong.append(f"restored from a file without a style: GetPanic said style {style}")
        for on in (False, True, False):
            press_key(PANIC_KEY)
            await asyncio.sleep(0.3)
            await self.expect_panic(on, f"{PANIC_KEY} bound in the profile")
        self.counts["panic-key"] = 3

    async def cover_settings_dialog(self):
        """Tools → the panic cover's settings, as a streamer opens it: the
        style chosen there applies at once, and OK closes it."""
        await self.expect_style("cover", "before the dialog")
        with Keyboard() as keys:
            keys.move(600, 300)  # over the main window, which then has the keyboard
            keys.key("Alt_L", "t")
            keys.key("Up")
            keys.key("Return")
            box = None
            for _ in range(50):
                box = window_box(COVER_DIALOG)
                if box:
                    break
                await asyncio.sleep(0.2)
            if not box:
                self.panic_wrong.append("Tools menu: the panic cover's settings did not open")
                return
            # The style list is the dialog's first row.
            x, y, w, _ = box
            keys.click(x + int(w * 0.63), y + 41)
            keys.key("Down")
            keys.key("Return")
            await self.expect_style("mosaic", "chosen in the dialog")
            keys.click(x + w - 150, y + box[3] - 30)  # OK
        for _ in range(50):
            if not window_box(COVER_DIALOG):
                break
            await asyncio.sleep(0.2)
        else:
            self.panic_wrong.append("the panic cover's settings did not close on OK")
        self.counts["cover-dialog"] = 1

    async def expect_style(self, style, what):
        got = (await self.vendor("GetPanic")).get("style")
        if got != style:
            self.panic_wrong.append(f"{what}: GetPanic said style {got}, expected {style}")

    def pick_board(self):
        names = [n for n in self.boards if n != "Known board"]
        return self.rng.choice(names) if names else None

    async def create_and_remove(self):
        self.serial += 1
        name = f"Passing board {self.serial}"
        await self.call("CreateInput", {"sceneName": self.rng.choice(self.scenes), "inputName": name,
                                        "inputKind": self.kind, "inputSettings": self.board_settings(),
                                        "sceneItemEnabled": True})
        await asyncio.sleep(0.04)
        await self.call("RemoveInput", {"inputName": name})

    async def action(self, name):
        r = self.rng
        board = self.pick_board()
        scene, item = self.boards[board] if board else (None, None)
        if name == "create-remove":
            await self.create_and_remove()
        elif name == "settings":
            await self.call("SetInputSettings", {"inputName": board, "inputSettings": self.board_settings()})
        elif name == "transform":
            await self.call("SetSceneItemTransform", {"sceneName": scene, "sceneItemId": item, "sceneItemTransform": {
                "positionX": r.randint(-200, 1300), "positionY": r.randint(-200, 700),
                "rotation": r.choice([0, 0, 15, 45, 90, 200]), "scaleX": r.choice([0.5, 1, 1, 1.7, -1]),
                "scaleY": r.choice([0.5, 1, 1, 1.3])}})
        elif name == "visibility":
            await self.call("SetSceneItemEnabled", {"sceneName": scene, "sceneItemId": item,
                                                    "sceneItemEnabled": r.random() < 0.6})
        elif name == "toggle":
            await self.call("TriggerHotkeyByName", {"hotkeyName": "BlurBoard.Toggle", "contextName": board})
        elif name == "emergency":
            # Pressed on, and off again a moment later, as a streamer would.
            await self.call("TriggerHotkeyByName", {"hotkeyName": "BlurBoard.Emergency", "contextName": board})
            await asyncio.sleep(r.uniform(0.1, 0.8))
            await self.call("TriggerHotkeyByName", {"hotkeyName": "BlurBoard.Emergency", "contextName": board})
        elif name == "panic":
            # The key on, another style while on, wrong requests that must
            # change nothing, then off from a remote program.
            await self.call("TriggerHotkeyByName", {"hotkeyName": "MistPane.Panic"})
            await self.expect_panic(not self.panic, "hotkey")
            await asyncio.sleep(r.uniform(0.1, 0.8))
            style = r.choice(["cover", "mosaic"])
            answer = await self.vendor("SetPanic", {"style": style})
            if answer.get("style") != style or answer.get("on") is not self.panic:
                self.panic_wrong.append(f"SetPanic style {style} answered {answer}")
            for wrong in ({"on": "off"}, {"on": False, "style": "blue"}):
                refused = await self.vendor("SetPanic", wrong)
                if "error" not in refused or "on" in refused:
                    self.panic_wrong.append(f"SetPanic {wrong} answered {refused}")
            await self.expect_panic(self.panic, "after a refused SetPanic")
            await self.expect_style(style, "after a refused SetPanic")
            await self.set_panic(False, "SetPanic off")
        elif name == "filter":
            await self.call("SetSourceFilterSettings", {"sourceName": "Picture", "filterName": "Hide",
                                                        "filterSettings": self.filter_settings()})
        elif name == "filter-hotkey":
            # Registered on the source the filter is on, under its own name.
            if await self.call("TriggerHotkeyByName", {"hotkeyName": "MistPaneHide.Toggle.Hide",
                                                       "contextName": "Picture"}) is None:
                self.filter_wrong.append("the filter's hotkey was not found on its source")
        elif name == "switch":
            target = r.choice(["Main", "Second"])
            if self.studio:
                await self.call("SetCurrentPreviewScene", {"sceneName": target})
                await self.call("TriggerStudioModeTransition")
            else:
                await self.call("SetCurrentProgramScene", {"sceneName": target})
        elif name == "second-scene":
            # The same board shown in a second scene for a moment: shared.
            other = r.choice([s for s in self.scenes if s != scene])
            data = await self.call("CreateSceneItem", {"sceneName": other, "sourceName": board})
            await asyncio.sleep(r.uniform(0.05, 0.5))
            if data:
                await self.call("RemoveSceneItem", {"sceneName": other, "sceneItemId": data["sceneItemId"]})
        self.counts[name] = self.counts.get(name, 0) + 1

    async def switch_collections(self, seconds):
        """Every switch of scene collection makes the frontend remove all
        scenes, as at exit: many shutdown-like clears in one run."""
        await self.call("CreateSceneCollection", {"sceneCollectionName": "Other"})
        await self.setup()
        start, current = time.monotonic(), "Other"
        while time.monotonic() - start < seconds:
            for _ in range(self.rng.randint(2, 8)):
                await self.create_and_remove()
            current = "Soak" if current == "Other" else "Other"
            if await self.call("SetCurrentSceneCollection", {"sceneCollectionName": current}) is None:
                raise RuntimeError(f"OBS refused to switch scene collections ({self.last_refusal})")
            for _ in range(100):
                await asyncio.sleep(0.1)
                listed = await self.call("GetSceneCollectionList")
                if listed and listed["currentSceneCollectionName"] == current and await self.call("GetSceneList"):
                    break
            self.counts["collection-switch"] = self.counts.get("collection-switch", 0) + 1

    async def run(self, seconds):
        if self.actions == "collections":
            return await self.switch_collections(seconds)
        if self.actions == "create-remove":
            weights = {"create-remove": 1}
        else:
            weights = {"create-remove": 3, "settings": 3, "transform": 3, "visibility": 2, "toggle": 1,
                       "emergency": 1, "switch": 1, "second-scene": 1, "panic": 1, "filter": 2, "filter-hotkey": 1}
        names, w = list(weights), list(weights.values())
        start = time.monotonic()
        while time.monotonic() - start < seconds:
            if self.actions != "create-remove" and not self.studio and time.monotonic() - start > seconds / 3:
                # Studio mode once: turning it on and off repeatedly with
                # duplicated scenes makes OBS itself leak and crash.
                await self.call("SetStudioModeEnabled", {"studioModeEnabled": True})
                self.studio = True
                self.counts["studio-mode"] = 1
            await self.action(self.rng.choices(names, w)[0])
            await asyncio.sleep(self.rng.uniform(0.02, 0.12))

    async def program_shot(self, shots):
        """Program output as the frontend's screenshot saves it: the main
        texture, exactly what the stream and the recording get."""
        for name in list(self.boards):
            await self.call("SetInputSettings", {"inputName": name, "inputSettings": {"emergency": False}})
        await self.call("SetSourceFilterEnabled", {"sourceName": "Picture", "filterName": "Hide",
                                                   "filterEnabled": False})
        items = (await self.call("GetSceneItemList", {"sceneName": "Main"}))["sceneItems"]
        for it in items:
            keep = it["sourceName"] in ("Picture", "Known board")
            await self.call("SetSceneItemEnabled", {"sceneName": "Main", "sceneItemId": it["sceneItemId"],
                                                    "sceneItemEnabled": keep})
        # A transition still running (or queued behind the last switch) can
        # take its own scene to program after ours: ask until Main is there.
        for _ in range(10):
            if self.studio:
                await self.call("SetCurrentPreviewScene", {"sceneName": "Main"})
                await asyncio.sleep(0.5)
                await self.call("TriggerStudioModeTransition")
            else:
                await self.call("SetCurrentProgramScene", {"sceneName": "Main"})
            await asyncio.sleep(2.0)
            program = await self.call("GetCurrentProgramScene")
            if program and program.get("sceneName", program.get("currentProgramSceneName")) == "Main":
                break
        # What a failed check is judged against.
        self.state = {"program": await self.call("GetCurrentProgramScene"),
                      "preview": await self.call("GetCurrentPreviewScene") if self.studio else None,
                      "known": await self.call("GetInputSettings", {"inputName": "Known board"}),
                      "main": await self.call("GetSceneItemList", {"sceneName": "Main"})}
        return await self.screenshot(shots)

    async def filter_shot(self, shots):
        """The program with the filter covering a known rounded part of the
        picture; the filter is then removed while OBS draws it."""
        x, y, w, h = FILTER_REGION
        await self.call("SetSourceFilterSettings", {"sourceName": "Picture", "filterName": "Hide", "filterSettings": {
            "mode": "cover", "cover_color": 0xFF0000FF, "shape": "rounded", "corner_radius": 20, "invert": False,
            "feather": 0, "enabled": True, "fade_seconds": 0, "region_x": x, "region_y": y, "region_width": w,
            "region_height": h}})
        await self.call("SetSourceFilterEnabled", {"sourceName": "Picture", "filterName": "Hide",
                                                   "filterEnabled": True})
        await asyncio.sleep(1.0)
        shot = await self.screenshot(shots)
        await self.call("RemoveSourceFilter", {"sourceName": "Picture", "filterName": "Hide"})
        return shot

    async def panic_shot(self, shots):
        """The program once more with the plain panic cover on; OBS then
        quits covered."""
        answer = await self.vendor("SetPanic", {"on": True, "style": "cover"})
        if answer != {"on": True, "style": "cover"}:
            self.panic_wrong.append(f"SetPanic on with the cover answered {answer}")
        await self.expect_panic(True, "SetPanic on for the screenshot")
        await asyncio.sleep(1.0)
        return await self.screenshot(shots)

    async def screenshot(self, shots):
        before = set(os.listdir(shots))
        await self.call("TriggerHotkeyByName", {"hotkeyName": "OBSBasic.Screenshot"})
        for _ in range(200):
            await asyncio.sleep(0.1)
            new = [f for f in set(os.listdir(shots)) - before if f.endswith(".png")]
            if new:
                # Written in place: wait until it reads as a whole image.
                path = os.path.join(shots, new[0])
                for _ in range(100):
                    try:
                        with Image.open(path) as img:
                            img.load()
                        return path
                    except (OSError, SyntaxError):
                        # PIL reports a half-written chunk as a SyntaxError.
                        await asyncio.sleep(0.1)
        return None


def check_filter(show, shot, picture):
    """The filter's region under its cover colour, the rest of the picture
    as it is, and its hotkey found on its source every time."""
    problems = list(show.filter_wrong)
    if not shot:
        return problems + ["no program screenshot with the filter was saved"]
    got = np.asarray(Image.open(shot).convert("RGB")).astype(int)
    pic = np.asarray(Image.open(picture).convert("RGB")).astype(int)
    if got.shape != pic.shape:
        return problems + ["the filter's screenshot is not the canvas's size"]
    x, y, w, h = FILTER_REGION
    inner = got[y + 8:y + h - 8, x + 8:x + w - 8]
    off = int(np.abs(inner - np.array(FILTER_RGB)).max())
    rest = REFERENCE
    diff = float(np.abs(got[rest[1]:rest[3], rest[0]:rest[2]] - pic[rest[1]:rest[3], rest[0]:rest[2]]).mean())
    print(f"  filter: {show.counts.get('filter', 0)} settings, {show.counts.get('filter-hotkey', 0)} hotkey presses;"
          f" its region off its cover colour by at most {off}, the rest off the picture by {diff:.1f} on average")
    if off > 2:
        problems.append("the filter does not cover its region of the picture")
    if diff > 8:
        problems.append("the filter changes the picture outside its region")
    return problems


def check_panic(show, shot, picture, log_text):
    """The whole program frame hidden with the panic cover on, every change
    reported to remote programs, every answer true."""
    problems = list(show.panic_wrong)
    # The change restored at load comes before any client can listen.
    if len(re.findall(r"\[mistpane\] panic cover on \(restored at start\)", log_text)) != 1:
        problems.append("the panic cover was not restored at start")
    changes = len(re.findall(r"\[mistpane\] panic cover (?:on|off) \((?!restored)", log_text))
    styles = len(re.findall(r"\[mistpane\] panic cover style (?:cover|mosaic) \(", log_text))
    print(f"  panic: {show.counts.get('panic', 0)} rounds, {changes} changes and {styles} changes of style"
          f" logged, {len(show.panic_events)} PanicChanged events")
    if changes == 0 or styles == 0 or len(show.panic_events) != changes + styles:
        problems.append(f"panic: {changes} changes and {styles} of style logged but {len(show.panic_events)}"
                        " PanicChanged events")
    if any(set(e) != {"on", "style"} for e in show.panic_events):
        problems.append("a PanicChanged event without \"on\" and \"style\"")
    if not shot:
        return problems + ["no program screenshot with the panic cover was saved"]
    got = np.asarray(Image.open(shot).convert("RGB"))
    pic = np.asarray(Image.open(picture).convert("RGB"))
    whole = (0, 0, CANVAS[0], CANVAS[1])
    left = detail(got, whole) / detail(pic, whole)
    off = int(np.abs(got.astype(int) - np.array(COVER_RGB)).max()) if got.shape == pic.shape else 255
    print(f"  panic cover: detail {left:.2f} of the whole picture's, off its colour by at most {off}")
    if got.shape != pic.shape or left > 0.15 or off > 2:
        problems.append("the panic cover does not hide the whole program under its colour")
    return problems


def parse_log(text):
    lines = [re.sub(r"^\d\d:\d\d:\d\d\.\d\d\d: ?", "", l) for l in text.splitlines()]
    out = {"leaks": None, "orphans": [], "remaining": [], "balance": [], "imbalance": []}
    in_orphans = False
    for line in lines:
        if line.startswith("Not all sources were cleared when clearing scene data"):
            in_orphans = True
        elif in_orphans and line.startswith("- "):
            out["orphans"].append(line[2:])
        elif in_orphans and out["orphans"] and not line.strip():
            in_orphans = False
        m = re.match(r"Number of memory leaks: (-?\d+)", line)
        if m:
            out["leaks"] = int(m.group(1))
        m = re.match(r"\t(\d+) (\w+)\(s\) were remaining", line)
        if m:
            out["remaining"].append(f"{m.group(1)} {m.group(2)}s")
        m = re.match(r"\[mistpane\] references: (.*)", line)
        if m:
            out["balance"].append(m.group(1))
        m = re.match(r"\[mistpane\] reference imbalance: (.*)", line)
        if m:
            out["imbalance"].append(m.group(1))
    return out


async def drive(args, port, picture, shots, rng):
    ws = simpleobsws.WebSocketClient(url=f"ws://127.0.0.1:{port}")
    deadline = time.monotonic() + 90
    while True:
        try:
            await ws.connect()
            if await ws.wait_until_identified(10):
                break
            await ws.disconnect()
        except OSError:
            pass
        if time.monotonic() > deadline:
            raise RuntimeError("obs-websocket did not answer")
        await asyncio.sleep(0.5)
    show = Show(ws, rng, args.actions, picture, args.kind)
    ws.register_event_callback(show.on_vendor_event, "VendorEvent")
    await show.setup()
    await show.restored_panic()
    if args.actions == "all":
        await show.cover_settings_dialog()
    await show.run(args.seconds)
    shot = await show.program_shot(shots)
    filter_shot = await show.filter_shot(shots) if args.actions == "all" else None
    panic_shot = await show.panic_shot(shots) if args.actions == "all" else None
    await asyncio.sleep(0.5)
    await ws.disconnect()
    return show, shot, filter_shot, panic_shot


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seconds", type=float, default=60)
    ap.add_argument("--module", required=True)
    ap.add_argument("--data", required=True)
    ap.add_argument("--actions", choices=["all", "create-remove", "collections"], default="all")
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--kind", default=BOARD, help="source type of the boards (another one for comparison)")
    ap.add_argument("--obs", default="obs")
    ap.add_argument("--keep", default="out/soak", help="folder for the OBS log of each run")
    ap.add_argument("--gdb", action="store_true", help="run OBS under gdb and keep every thread's stack of a crash")
    args = ap.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    rng = random.Random(seed)

    home = tempfile.mkdtemp(prefix="mistpane-soak-")
    shots = os.path.join(home, "shots")
    os.makedirs(shots)
    port = free_port()
    write_profile(home, port, shots)
    install_module(home, args.module, args.data)
    picture = os.path.join(home, "picture.png")
    make_picture(picture, seed)

    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"))
    console = open(os.path.join(home, "obs-console.txt"), "w")
    command = [args.obs, "--multi", "--disable-updater", "--disable-missing-files-check"]
    if args.gdb:
        command = ["gdb", "-q", "-batch", "-ex", "handle SIGTERM nostop noprint pass",
                   "-ex", "handle SIGPIPE nostop noprint pass", "-ex", "run",
                   "-ex", "thread apply all bt 20", "--args"] + command
    obs = subprocess.Popen(command, env=env, stdout=console, stderr=subprocess.STDOUT, cwd=home)
    problems = []
    show = shot = filter_shot = panic_shot = None
    started = time.monotonic()
    try:
        show, shot, filter_shot, panic_shot = asyncio.run(drive(args, port, picture, shots, rng))
    except Exception as e:  # a crash mid-run shows up here as a lost connection
        problems.append(f"driving OBS failed: {e!r}")
    driven = time.monotonic() - started

    exited_by_itself = True
    if obs.poll() is None:
        target = obs.pid
        if args.gdb:
            target = int(subprocess.run(["pgrep", "-P", str(obs.pid)], capture_output=True,
                                        text=True).stdout.split()[0])
        os.kill(target, signal.SIGTERM)
        try:
            obs.wait(timeout=120)
        except subprocess.TimeoutExpired:
            exited_by_itself = False
            # Where it hangs, before it is killed.
            stacks = subprocess.run(["gdb", "-q", "-batch", "-p", str(target), "-ex", "thread apply all bt 25"],
                                    capture_output=True, text=True, timeout=300).stdout
            with open(os.path.join(home, "obs-console.txt"), "a") as f:
                f.write("\n==== stacks of the hung OBS\n" + stacks)
            obs.kill()
            obs.wait()
    else:
        problems.append(f"OBS ended before SIGTERM (status {obs.returncode})")
    console.close()
    code = obs.returncode
    console_text = open(os.path.join(home, "obs-console.txt"), errors="replace").read()
    if args.gdb:
        m = re.search(r"received signal (SIG\w+)", console_text)
        code = -signal.Signals[m.group(1)].value if m else code

    logs = sorted(os.listdir(os.path.join(home, ".config", "obs-studio", "logs")))
    text = open(os.path.join(home, ".config", "obs-studio", "logs", logs[-1]), errors="replace").read() if logs else ""
    log = parse_log(text)
    os.makedirs(args.keep, exist_ok=True)
    kept = os.path.join(args.keep, f"obs-{time.strftime('%Y%m%d-%H%M%S')}-{seed}.log")
    with open(kept, "w") as f:
        f.write(text)
    if shot:
        shutil.copy(shot, kept[:-4] + "-program.png")
    if filter_shot:
        shutil.copy(filter_shot, kept[:-4] + "-filter.png")
    if panic_shot:
        shutil.copy(panic_shot, kept[:-4] + "-panic.png")
    if code != 0 or not exited_by_itself:
        with open(kept[:-4] + "-console.txt", "w") as f:
            f.write(console_text)

    print(f"soak: seed {seed}, {args.seconds:g} s of {args.actions} actions, driven {driven:.0f} s")
    if show:
        print("  actions: " + ", ".join(f"{k} {v}" for k, v in sorted(show.counts.items())))
        if show.failed:
            print("  refused requests: " + ", ".join(f"{k} {v}" for k, v in sorted(show.failed.items())))
    if not exited_by_itself:
        problems.append("OBS did not exit within 120 s of SIGTERM")
    elif code != 0:
        name = signal.Signals(-code).name if code < 0 else f"status {code}"
        problems.append(f"OBS crashed at shutdown ({name})")
    print(f"  OBS exit: {'by itself' if exited_by_itself else 'killed'}, status {code}")
    print(f"  leak line: {log['leaks'] if log['leaks'] is not None else 'missing'}")
    if log["orphans"] or log["remaining"]:
        # The host's own race at shutdown (docs/host-notes.md): reported, not failed.
        print(f"  host left behind: {len(log['orphans'])} source(s) after clearing scene data"
              f" ({', '.join(log['orphans'][:6])}{', ...' if len(log['orphans']) > 6 else ''});"
              f" freed by libobs at shutdown: {', '.join(log['remaining']) or 'none'}")
    else:
        print("  host left behind: nothing")
    if log["imbalance"]:
        problems.append("module reference imbalance: " + "; ".join(log["imbalance"]))
    if log["balance"]:
        print("  module references: " + log["balance"][-1])
    elif code == 0:
        problems.append("the module logged no reference balance at unload")

    if show is not None:
        if not shot:
            problems.append("no program screenshot was saved")
        else:
            got = np.asarray(Image.open(shot).convert("RGB"))
            pic = np.asarray(Image.open(picture).convert("RGB"))
            box = (KNOWN["x"], KNOWN["y"], KNOWN["x"] + KNOWN["w"], KNOWN["y"] + KNOWN["h"])
            inner = (box[0] + 8, box[1] + 8, box[2] - 8, box[3] - 8)
            hidden, shown = detail(got, inner) / detail(pic, inner), detail(got, REFERENCE) / detail(pic, REFERENCE)
            diff = float(np.abs(got[REFERENCE[1]:REFERENCE[3], REFERENCE[0]:REFERENCE[2]].astype(int) -
                                pic[REFERENCE[1]:REFERENCE[3], REFERENCE[0]:REFERENCE[2]].astype(int)).mean())
            print(f"  known board: detail {hidden:.2f} of the picture's beneath it;"
                  f" uncovered area {shown:.2f} of it, mean difference {diff:.1f}")
            if got.shape != pic.shape or shown < 0.8 or diff > 8:
                problems.append("the program screenshot does not show the picture")
            elif hidden > 0.25:
                problems.append("the known board no longer hides the picture")
                print("  state at the screenshot: " + json.dumps(show.state))
    if show is not None and args.actions == "all":
        problems += check_filter(show, filter_shot, picture)
        problems += check_panic(show, panic_shot, picture, text)
    print(f"  OBS log kept in {kept}")
    for p in problems:
        print(f"  FAIL: {p}")
    print("soak: " + ("failed" if problems else "passed"))
    shutil.rmtree(home, ignore_errors=True)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
