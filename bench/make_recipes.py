#!/usr/bin/env python3
"""bootreel-preview make against the common GIF recipes, on the device's own terms.

For each clip: decoded frame memory at full size (what the device counts, from `info --json`),
file size, SSIM of the device's screens against the source at the same instants (every 40 ms,
from the show's own frames and timeline), time to make, and the warnings `info` gives.

Recipes: FFmpeg palettegen (stats_mode=diff) + paletteuse (diff_mode=rectangle) in two passes;
that GIF through gifsicle -O3; ImageMagick -layers Optimize on the same fitted frames.

Usage: bench/make_recipes.py PREVIEW_EXE WORK_DIR [REAL_VIDEO]
Prints a Markdown table and the goals' verdicts.
"""
import json, os, shutil, subprocess, sys, time

W, H = 240, 320
FIT = (f"scale={W}:{H}:force_original_aspect_ratio=decrease:flags=area,"
       f"pad={W}:{H}:(ow-iw)/2:(oh-ih)/2:black")


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, **kw)


def timed(cmds):
    start = time.perf_counter()
    for c in cmds:
        run(c)
    return time.perf_counter() - start


def lavfi(name, spec, work):
    out = os.path.join(work, name + ".mkv")
    run(["ffmpeg", "-y", "-loglevel", "error", "-f", "lavfi", "-i", spec,
         "-c:v", "ffv1", out])
    return out


def cut(name, video, start, seconds, work):
    out = os.path.join(work, name + ".mkv")
    run(["ffmpeg", "-y", "-loglevel", "error", "-ss", str(start), "-t", str(seconds), "-i",
         video, "-an", "-c:v", "ffv1", out])
    return out


def clips(work, real, samples):
    c = [
        ("testsrc2", lavfi("testsrc2", "testsrc2=size=320x240:rate=30:duration=4", work)),
        ("mandelbrot", lavfi("mandelbrot", "mandelbrot=size=320x240:rate=25,trim=duration=4", work)),
        ("life", lavfi("life", "life=size=160x120:rate=25:mold=10:ratio=0.3:seed=7,"
                       "scale=320:240:flags=neighbor,trim=duration=4", work)),
        ("cellauto", lavfi("cellauto", "cellauto=size=240x320:rate=25:rule=110:seed=3,"
                           "trim=duration=4", work)),
        ("drawn-shapes", lavfi("drawn", "color=c=0x203050:size=240x320:rate=30:duration=4[bg];"
                               "color=c=orange:size=40x40:rate=30[box];"
                               "color=c=white:size=200x12:rate=30[bar];"
                               "[bg][box]overlay=x='20+t*40':y='140+20*sin(t*3)':shortest=1[a];"
                               "[a][bar]overlay=x='-200+t*55':y=260:shortest=1", work)),
        ("sample-gif", os.path.join(samples, "boot.gif")),
    ]
    if real:
        c.append(("screencast-a", cut("screencast-a", real, 0, 8, work)))
        c.append(("screencast-b", cut("screencast-b", real, 16, 8, work)))
    return c


def info(exe, gif):
    p = subprocess.run([exe, "info", gif, "--screen", f"{W}x{H}", "--json"],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    j = json.loads(p.stdout)
    return j["memory"][0]["frameBytes"], [w["id"] for w in j["warnings"]]


def source_frames(src, folder):
    """The source as the screen should show it at 20 + 40k ms (the middle of each 40 ms), k =
    0, 1, ...: the latest source frame whose time has come, fitted like the recipes."""
    every = folder + "-all"
    os.makedirs(every, exist_ok=True)
    os.makedirs(folder, exist_ok=True)
    run(["ffmpeg", "-y", "-loglevel", "error", "-i", src, "-vf", FIT, "-fps_mode", "passthrough",
         os.path.join(every, "%05d.png")])
    times = [float(t) for t in run(["ffprobe", "-v", "error", "-select_streams", "v:0",
                                    "-show_entries", "frame=best_effort_timestamp_time",
                                    "-of", "csv=p=0", src]).stdout.split() if t not in ("", "N/A")]
    count = min(len(times), len(os.listdir(every)))
    start, end = times[0], times[count - 1] + (times[-1] - times[-2] if count > 1 else 0.04)
    j, k = 0, 0
    while start + 0.04 * k + 0.02 < end:
        t = start + 0.04 * k + 0.02
        while j + 1 < count and times[j + 1] <= t + 1e-6:
            j += 1
        os.symlink(os.path.join(every, "%05d.png" % (j + 1)), os.path.join(folder, "%05d.png" % (k + 1)))
        k += 1
    return k


def ssim(exe, gif, src_folder, count, work):
    out = os.path.join(work, "show")
    shutil.rmtree(out, ignore_errors=True)
    subprocess.run([exe, "show", "--image", gif, "--screen", f"{W}x{H}", "--out", out],
                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    timeline = json.load(open(os.path.join(out, "timeline.json")))
    frames = timeline["frames"]
    if not frames:
        return 0.0
    dev = os.path.join(work, "dev")
    shutil.rmtree(dev, ignore_errors=True)
    os.makedirs(dev)
    # Source frame k stands for the 40 ms from 40k; it is compared with what the screen shows
    # in the middle of that time.
    t0 = frames[0]["composedAtMs"]
    j = 0
    for k in range(count):
        t = t0 + 40 * k + 20
        while j + 1 < len(frames) and frames[j + 1]["composedAtMs"] <= t:
            j += 1
        os.symlink(os.path.join(out, frames[j]["file"]), os.path.join(dev, "%05d.png" % (k + 1)))
    p = run(["ffmpeg", "-loglevel", "info", "-framerate", "25", "-i",
             os.path.join(dev, "%05d.png"), "-framerate", "25", "-i",
             os.path.join(src_folder, "%05d.png"), "-lavfi", "[0][1]ssim", "-f", "null", "-"])
    for line in p.stderr.splitlines():
        if "SSIM" in line and "All:" in line:
            return float(line.split("All:")[1].split()[0])
    return 0.0


def main():
    exe, work = sys.argv[1], sys.argv[2]
    real = sys.argv[3] if len(sys.argv) > 3 else ""
    samples = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "samples")
    os.makedirs(work, exist_ok=True)
    rows, verdicts = [], []
    for name, src in clips(work, real, samples):
        d = os.path.join(work, name)
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
        ref = os.path.join(d, "source")
        count = source_frames(src, ref)
        results = {}
        pal, ff = os.path.join(d, "palette.png"), os.path.join(d, "ffmpeg.gif")
        t_ff = timed([
            ["ffmpeg", "-y", "-loglevel", "error", "-i", src, "-vf",
             FIT + ",palettegen=stats_mode=diff", pal],
            ["ffmpeg", "-y", "-loglevel", "error", "-i", src, "-i", pal, "-lavfi",
             FIT + "[x];[x][1:v]paletteuse=diff_mode=rectangle", ff]])
        results["ffmpeg"] = (ff, t_ff)
        gs = os.path.join(d, "gifsicle.gif")
        results["ffmpeg+gifsicle -O3"] = (gs, t_ff + timed([["gifsicle", "-O3", ff, "-o", gs]]))
        fr, im = os.path.join(d, "frames"), os.path.join(d, "magick.gif")
        os.makedirs(fr)
        rate = run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                    "stream=avg_frame_rate", "-of", "csv=p=0", src]).stdout.strip() or "25/1"
        num, den = (rate.split("/") + ["1"])[:2]
        fps = max(1, round(float(num) / float(den or 1))) if float(num) > 0 else 25
        t_im = timed([["ffmpeg", "-y", "-loglevel", "error", "-i", src, "-vf", FIT,
                       os.path.join(fr, "%05d.png")]])
        frames = sorted(os.path.join(fr, f) for f in os.listdir(fr))
        t_im += timed([["convert", "-delay", f"1x{fps}"] + frames + ["-layers", "Optimize", im]])
        results["ImageMagick -layers Optimize"] = (im, t_im)
        mk = os.path.join(d, "made")
        t_mk = timed([[exe, "make", src, "--screen", f"{W}x{H}", "--no-sound", "--no-preview",
                       "--out", mk]])
        results["make"] = (os.path.join(mk, "boot.gif"), t_mk)
        measured = {}
        for label, (gif, seconds) in results.items():
            memory, warnings = info(exe, gif)
            measured[label] = dict(memory=memory, size=os.path.getsize(gif), seconds=seconds,
                                   ssim=ssim(exe, gif, ref, count, d), warnings=warnings)
        recipes = [v for k, v in measured.items() if k != "make"]
        ours = measured["make"]
        best_mem = min(r["memory"] for r in recipes)
        best_size = min(r["size"] for r in recipes)
        best_ssim = max(r["ssim"] for r in recipes)
        for label, m in measured.items():
            rows.append(f"| {name} | {label} | {m['memory']:,} | {m['size']:,} | {m['ssim']:.4f} | "
                        f"{m['seconds']:.2f} | {', '.join(m['warnings']) or 'none'} |")
        verdicts.append(dict(
            clip=name, warnings=not ours["warnings"],
            memory=ours["memory"] / best_mem, size=ours["size"] / best_size,
            ssim=ours["ssim"] - best_ssim, time=ours["seconds"] / measured["ffmpeg"]["seconds"]))
        print(f"{name}: done", file=sys.stderr)
    print("| clip | maker | frame memory at full size (bytes) | file (bytes) | SSIM | time (s) | warnings from info |")
    print("|---|---|---:|---:|---:|---:|---|")
    print("\n".join(rows))
    print()
    print("| clip | no warning | memory / best recipe's (goal <= 0.6) | file / best recipe's (goal <= 1) | SSIM - best recipe's (goal >= 0) | time / FFmpeg recipe's (goal <= 2) |")
    print("|---|---|---:|---:|---:|---:|")
    for v in verdicts:
        print(f"| {v['clip']} | {'yes' if v['warnings'] else 'no'} | {v['memory']:.3f} | "
              f"{v['size']:.3f} | {v['ssim']:+.4f} | {v['time']:.2f} |")


if __name__ == "__main__":
    main()
