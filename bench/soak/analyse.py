#!/usr/bin/env python3
"""Reads back one soak recording: memory and descriptors over the run, late frames, frames in the
file against frames composed, sound continuity, duration and index. Exits 1 when a goal is missed.

Two things are expected rather than faults, and are printed apart:
- The picture's timeline. The frame source waits 33 ms per frame at 30 fps while its stamps advance
  by 333,333 x 100 ns, so frames composed on time are stamped about 1 % beyond the clock; frames
  composed late take the clock's slot. The picture therefore ends at the later of the recorded time
  and (frames composed) x (frame length), and the sound, which follows the device, ends at the
  recorded time.
- The AVI index. The muxer keeps one 16-byte entry per chunk in memory until it writes the index
  at the close (an hour at 30 fps with sound is about 150,000 entries, 2.3 MiB). That growth is
  counted from the file's own entries and taken out of the growth the goal applies to."""
import argparse
import array
import csv
import json
import math
import re
import struct
import subprocess
import sys

RSS_GOAL_KIB = 1024  # growth after the first minute
INDEX_ENTRY_BYTES = 16  # one AVI index entry: chunk id, flags, offset, size


def ffprobe(path, *args):
    out = subprocess.run(["ffprobe", "-v", "error", *args, "-of", "json", path],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def memory(samples_path, seconds):
    rows = []
    with open(samples_path) as f:
        for row in csv.DictReader(f):
            t = float(row["seconds"])
            if t <= seconds:  # recording, not the teardown and read-back after it
                rows.append((t, int(row["rss_kib"]), int(row["fds"])))
    after = [r for r in rows if r[0] >= 60] or rows[-1:]
    base = after[0]
    # Growth: the last minute's average against the second minute's, so one sample's noise
    # (a buffer in flight) does not count.
    first = [r[1] for r in after if r[0] < base[0] + 60]
    last = [r[1] for r in after if r[0] > after[-1][0] - 60]
    growth = sum(last) / len(last) - sum(first) / len(first)
    first_t = [r[0] for r in after if r[0] < base[0] + 60]
    last_t = [r[0] for r in after if r[0] > after[-1][0] - 60]
    return {
        "window_seconds": sum(last_t) / len(last_t) - sum(first_t) / len(first_t),
        "samples": len(rows),
        "rss_at_60s_kib": base[1],
        "rss_end_kib": after[-1][1],
        "rss_max_kib": max(r[1] for r in after),
        "rss_growth_kib": round(growth),
        "fds_at_60s": base[2],
        "fds_end": after[-1][2],
        "fds_max": max(r[2] for r in rows),
    }


def tool_counts(log_path):
    text = open(log_path, errors="replace").read()
    m = re.search(r"done: (\d+) frames composed, (\d+) late", text)
    return (int(m.group(1)), int(m.group(2))) if m else (None, None)


def sound_continuity(path, rate, tone=440.0):
    """Decodes the sound and checks the virtual microphone's steady tone sample by sample: a sine
    obeys x[n] = 2cos(w) x[n-1] - x[n-2], so a lost, repeated or inserted sample leaves a residual
    far above 16-bit rounding."""
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0:a:0", "-f", "s16le",
                          "-ac", "1", "-ar", str(rate), "-"], check=True,
                         capture_output=True).stdout
    x = array.array("h")
    x.frombytes(raw[: len(raw) // 2 * 2])
    c = 2 * math.cos(2 * math.pi * tone / rate)
    breaks, last_break, peak = 0, -10, 0
    for n in range(2, len(x)):
        r = abs(x[n] - c * x[n - 1] + x[n - 2])
        if r > 64:
            if n - last_break > 2:  # one discontinuity disturbs two residuals
                breaks += 1
            last_break = n
        peak = max(peak, abs(x[n]))
    return len(x), breaks, peak


def avi_index(path):
    """The RIFF chunks at the top level and what the legacy index holds."""
    riffs, idx1_entries, video_entries, odml = [], 0, 0, False
    with open(path, "rb") as f:
        head = f.read(1 << 16)
        odml = b"indx" in head and b"odml" in head
        pos = 0
        while True:
            f.seek(pos)
            h = f.read(12)
            if len(h) < 12:
                break
            tag, size, kind = h[:4], struct.unpack("<I", h[4:8])[0], h[8:12]
            riffs.append(kind.decode("latin1"))
            if kind == b"AVI ":
                sub = pos + 12
                end = pos + 8 + size
                while sub + 8 <= end:
                    f.seek(sub)
                    ch = f.read(8)
                    ctag, csize = ch[:4], struct.unpack("<I", ch[4:8])[0]
                    if ctag == b"idx1":
                        idx1_entries = csize // 16
                        data = f.read(csize)
                        video_entries = sum(1 for i in range(0, len(data), 16)
                                            if data[i + 2:i + 4] in (b"dc", b"db"))
                    sub += 8 + csize + (csize & 1)
            pos += 8 + size + (size & 1)
    return {"riff": riffs, "odml_index": odml, "idx1_entries": idx1_entries,
            "idx1_video": video_entries}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--file", required=True)
    ap.add_argument("--samples", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--seconds", type=float, required=True)
    ap.add_argument("--fps", type=float, required=True)
    a = ap.parse_args()
    ok = True

    mem = memory(a.samples, a.seconds)
    composed, late = tool_counts(a.log)
    info = ffprobe(a.file, "-count_packets", "-show_entries",
                   "format=duration,size,format_name:stream=index,codec_type,codec_name,"
                   "nb_read_packets,sample_rate,duration")
    streams = {s["codec_type"]: s for s in info["streams"]}
    video = streams.get("video", {})
    audio = streams.get("audio", {})
    frames = int(video.get("nb_read_packets", 0))
    duration = float(info["format"].get("duration", 0))
    sizes = ffprobe(a.file, "-select_streams", "v:0", "-show_entries", "packet=size")
    empty = sum(1 for p in sizes.get("packets", []) if int(p.get("size", 0)) == 0)
    avi = info["format"]["format_name"] == "avi"
    idx = avi_index(a.file) if avi else None
    slots = 0
    if avi:
        # A frame composed late takes the slot the clock has reached; the slots it passed over are
        # empty chunks, which FFmpeg does not count as packets but which the index lists and the
        # duration includes.
        slots = idx["idx1_video"] if not idx["odml_index"] else frames + empty

    # The muxer's in-memory index grows by one entry per chunk, evenly over the run.
    index_kib = 0.0
    if avi:
        entries = slots + int(audio.get("nb_read_packets", 0))
        index_kib = entries * INDEX_ENTRY_BYTES / 1024 * mem["window_seconds"] / a.seconds
    other_kib = mem["rss_growth_kib"] - index_kib
    print(f"  memory: RSS {mem['rss_at_60s_kib']} KiB at 60 s, {mem['rss_end_kib']} KiB at the "
          f"end (max {mem['rss_max_kib']}); growth {mem['rss_growth_kib']} KiB over "
          f"{mem['samples']} samples")
    if avi:
        print(f"  memory: of it the AVI index {index_kib:.0f} KiB ({entries} entries in the file), "
              f"the rest {other_kib:.0f} KiB (goal < {RSS_GOAL_KIB})")
    if other_kib >= RSS_GOAL_KIB:
        ok = False
        print("  FAIL: memory grows")
    print(f"  descriptors: {mem['fds_at_60s']} at 60 s, {mem['fds_end']} at the end "
          f"(max {mem['fds_max']})")
    if mem["fds_end"] > mem["fds_at_60s"]:
        ok = False
        print("  FAIL: descriptors grow")
    print(f"  frames: {composed} composed, {late} late, {frames} in the file "
          f"({empty} empty), {a.seconds * a.fps:.0f} expected for {a.seconds:.0f} s")

    # Where the picture should end: frames on time run ahead of the clock by the stamps' longer
    # frame length, late frames follow the clock.
    expected = max(a.seconds, (composed or 0) / a.fps)
    if avi:
        picture = slots / a.fps
        print(f"  slots: {slots} ({slots - frames} left empty by late frames), {picture:.2f} s")
        # Every composed frame is written (the last may be cut by the close), one slot each.
        if composed is not None and not (composed - 1 <= frames <= composed):
            ok = False
            print("  FAIL: frames composed are missing from the file")
    else:
        # The Windows Media encoder keeps to its bit rate by leaving frames out; the stream still
        # spans the whole recording.
        picture = float(video.get("duration", 0))
        print(f"  video stream: {picture:.2f} s, {frames / max(picture, 1e-9):.1f} frames/s kept")
        if composed is not None and frames > composed:
            ok = False
            print("  FAIL: more frames in the file than composed")
    print(f"  duration: {duration:.2f} s in the file, picture {picture:.2f} s, {a.seconds:.0f} s "
          f"recorded; picture expected {expected:.2f} s ({expected - a.seconds:+.2f} s from "
          f"frames stamped on time)")
    if abs(duration - picture) > 0.5 or abs(picture - expected) > 1.0:
        ok = False
        print("  FAIL: the duration does not match the recording")

    if audio:
        rate = int(audio.get("sample_rate", 11025))
        samples, breaks, peak = sound_continuity(a.file, rate)
        sound_seconds = samples / rate
        print(f"  sound: {samples} samples ({sound_seconds:.2f} s) at {rate} Hz, peak {peak}, "
              f"{breaks} discontinuities")
        if breaks:
            ok = False
            print("  FAIL: the sound has gaps or overlaps")
        print(f"  sound against picture: {sound_seconds - picture:+.2f} s "
              f"({sound_seconds - a.seconds:+.2f} s against the recorded time)")
        if abs(sound_seconds - a.seconds) > 0.5:
            ok = False
            print("  FAIL: the sound's length does not match the recording")
    else:
        ok = False
        print("  FAIL: no sound stream")

    if avi:
        print(f"  index: RIFF {'+'.join(idx['riff'])}, OpenDML index "
              f"{'present' if idx['odml_index'] else 'absent'}, idx1 {idx['idx1_entries']} "
              f"entries ({idx['idx1_video']} video)")
        # Past the first RIFF, only the OpenDML index covers every frame.
        if abs(duration - picture) > 2 / a.fps:
            ok = False
            print("  FAIL: the index does not cover the whole recording")
    else:
        data = open(a.file, "rb").read()
        # The ASF simple index object (33000890-E5B1-11CF-89F4-00A0C90349CB).
        guid = bytes.fromhex("90080033B1E5CF1189F400A0C90349CB")
        present = guid in data[-(1 << 22):]
        print(f"  index: ASF simple index {'present' if present else 'absent'}")
        if not present:
            ok = False
            print("  FAIL: no index")
    print("  " + ("OK" if ok else "goals missed"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
