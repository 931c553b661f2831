#!/usr/bin/env python3
"""Speed of the quarv Python module against the C++ it wraps, measured in one run.

  PYTHONPATH=build/python python3 bench/python_bench.py [--build build] [--repeat 3] [--lines 200]

Writes the benchmark recording (plane scene at 6 m, 200 lines x 1000 shots x 600 samples,
243 MB; --lines makes it shorter) and a copy, then reports, each as the best of --repeat runs:
  1. quarv.process against `quarv-cli process` on the recording (ratio of wall times);
  2. quarv.matched_filter over 100,000 waveforms in one array on one thread against the C++
     kernel on the same recording (quarv-bench's BM_ShotsOneThread: the same function called
     from C++, and BM_BareMatchedFilter: the matched filter alone), as rates;
  3. quarv.process of the two recordings on 2 threads of concurrent.futures against one after
     the other (engine workers 1 in both, so the threads are the only parallelism).
"""
import argparse, concurrent.futures, json, os, resource, shutil, subprocess, sys, tempfile, time

import numpy as np
import quarv


def best(fn, repeat):
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default="build")
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--lines", type=int, default=200)
    args = ap.parse_args()
    cli = os.path.join(args.build, "quarv-cli")
    bench = os.path.join(args.build, "quarv-bench")
    with tempfile.TemporaryDirectory() as tmp:
        os.environ["QUARV_HOME"] = os.path.join(tmp, "home")
        a, b = os.path.join(tmp, "a.raw"), os.path.join(tmp, "b.raw")
        t = time.perf_counter()
        quarv.simulate(a, scene="plane", distance=6.0, shots=1000, lines=args.lines, samples=600,
                       truth=False)
        print(f"recording: {os.path.getsize(a) / 1e6:.0f} MB written in "
              f"{time.perf_counter() - t:.1f} s")
        shutil.copyfile(a, b)
        for f in (a, b):  # warm page cache for every contender
            with open(f, "rb") as h:
                while h.read(1 << 24):
                    pass

        # 1. process against the command line.
        points = quarv.process(a)
        run_cli = lambda: subprocess.run([cli, "process", a], check=True, capture_output=True)
        t_py, t_cli, cpu_py, cpu_cli = [], [], [], []
        for _ in range(args.repeat):  # interleaved, so a change of load hits both
            c0 = resource.getrusage(resource.RUSAGE_CHILDREN)
            t_cli.append(best(run_cli, 1))
            c1 = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpu_cli.append(c1.ru_utime + c1.ru_stime - c0.ru_utime - c0.ru_stime)
            c0 = time.process_time()
            t_py.append(best(lambda: quarv.process(a), 1))
            cpu_py.append(time.process_time() - c0)
        # CPU seconds as well: on a loaded machine they drift far less than wall time.
        print(f"process: quarv-cli {min(t_cli):.3f} s, quarv.process {min(t_py):.3f} s "
              f"({len(points)} points): ratio {min(t_py) / min(t_cli):.3f}; CPU "
              f"{min(cpu_cli):.3f} s and {min(cpu_py):.3f} s: ratio "
              f"{min(cpu_py) / min(cpu_cli):.3f}")

        # 2. matched filter rate against the C++ kernel on the same waveforms.
        rec = quarv.Recording(a)
        lines = range(min(100, rec.lines))
        waves = np.concatenate([rec.waveforms(l) for l in lines])
        hor_pos = np.concatenate([rec.horizontal_positions(l) for l in lines])
        mf = lambda: quarv.matched_filter(waves, rec, hor_pos=hor_pos, range_min=0.5,
                                          range_max=30, workers=1)
        t_mf = best(mf, args.repeat)
        if args.lines == 200:
            out = subprocess.run([bench, "--benchmark_filter=BM_BareMatchedFilter|BM_ShotsOneThread",
                                  "--benchmark_format=json"], check=True, capture_output=True,
                                 text=True, env={**os.environ, "QUARV_BENCH_RECORDING": a}).stdout
            cpp = {r["name"].split("/")[0]: r["waveforms/s"] for r in json.loads(out)["benchmarks"]}
        else:
            cpp = {}
        t_mf = min(t_mf, best(mf, args.repeat))
        rate = len(waves) / t_mf
        print(f"matched_filter: {len(waves)} waveforms, 1 thread, {rate / 1e3:.0f} k/s")
        for name, value in cpp.items():
            print(f"  C++ {name}: {value / 1e3:.0f} k/s; quarv.matched_filter at "
                  f"{rate / value:.3f} of it")

        # 3. two recordings on two threads against one after the other.
        one = lambda f: quarv.process(f, workers=1)
        t_serial = best(lambda: [one(f) for f in (a, b)], args.repeat)
        spans = []
        def timed(f):
            t0 = time.perf_counter()
            one(f)
            spans.append((t0, time.perf_counter()))
        def pooled():
            spans.clear()
            with concurrent.futures.ThreadPoolExecutor(2) as pool:
                list(pool.map(timed, (a, b)))
        cpu0, wall0 = time.process_time(), time.perf_counter()
        t_pool = best(pooled, args.repeat)
        busy = (time.process_time() - cpu0) / (time.perf_counter() - wall0)
        # Whatever the load, a call that held the GIL would keep the other from starting:
        # the share of the shorter call spent while the other was also running says they overlap.
        (s0, e0), (s1, e1) = spans
        overlap = max(0.0, min(e0, e1) - max(s0, s1)) / min(e0 - s0, e1 - s1)
        # On a machine shared with other work the wall times follow the load; the cores this
        # process kept busy while pooled show whether the two calls really ran at once.
        print(f"threads: 1 thread {t_serial:.3f} s, 2 threads {t_pool:.3f} s: "
              f"speed-up {t_serial / t_pool:.2f}x ({busy:.2f} cores busy while pooled, the calls "
              f"overlapping {overlap:.0%}; load average {os.getloadavg()[0]:.1f} on "
              f"{os.cpu_count()} cores)")


if __name__ == "__main__":
    sys.exit(main())
