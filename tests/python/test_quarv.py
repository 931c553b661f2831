# The quarv module against quarv-cli on the same inputs: each function compared once, hostile
# files, and arrays that outlive what made them. Run by CTest (label python) with PYTHONPATH and
# QUARV_CLI set.
import concurrent.futures, csv, gc, json, os, subprocess
from pathlib import Path

import numpy as np
import pytest
import quarv

CLI = os.environ.get("QUARV_CLI", "quarv-cli")
LAYOUTS = {"line": {}, "stare": {"type": 1, "shots": 6, "pulses": 3},
           "bowtie": {"type": 4, "shots": 8}, "peak line": {"peak": True},
           "peak stare": {"peak": True, "type": 1, "shots": 6, "pulses": 3}}


def cli(*args):
    return subprocess.run([CLI, *map(str, args)], capture_output=True, text=True, check=False)


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    d = tmp_path_factory.mktemp("rec")
    os.environ["QUARV_HOME"] = str(d / "home")
    out = {}
    for kind, options in LAYOUTS.items():
        out[kind] = d / (kind.replace(" ", "_") + (".pek" if "peak" in kind else ".raw"))
        quarv.simulate(out[kind], scene="plane", lines=4, **{"shots": 32, **options})
    return out


def test_recording_layouts_and_info(files):
    for kind, path in files.items():
        r = quarv.Recording(path)
        assert (r.kind, r.lines) == (kind, 4)
        assert r.info() == cli("info", path).stdout.splitlines()
        if "peak" in kind:
            peaks = r.peaks(3)
            assert peaks["horizontal_position"].shape == r.horizontal_positions(3).shape
            assert np.array_equal(peaks["horizontal_position"], r.horizontal_positions(3))
        else:
            assert r.waveforms(-1).shape[-1] == r.samples == r.header["digitizer"]["samples_per_pulse"]
        az, el = r.angles(3)
        assert az.shape == el.shape


def test_matched_filter_equals_cli_shot(files):
    for kind in ("line", "stare", "bowtie"):
        r = quarv.Recording(files[kind])
        line = 2
        mine = quarv.matched_filter(r.waveforms(line), r, hor_pos=r.horizontal_positions(line),
                                    range_min=1, range_max=9, workers=2).reshape(-1)
        for i in (0, 5, len(mine) - 1):
            record = line * r.shots + i // r.pulses if kind == "stare" else line
            pulse = i % r.pulses if kind == "stare" else i
            want = json.loads(cli("shot", files[kind], "--record", record, "--pulse", pulse,
                                  "--range-min", 1, "--range-max", 9).stdout)
            got = mine[i]
            assert [bool(got["found"]), float(got["position"]), float(np.float32(got["range"])),
                    int(got["amplitude"]), float(got["snr"]), float(got["intensity"])] == \
                [want["found"], want["position"], float(np.float32(want["range"])),
                 want["amplitude"], want["snr"], want["intensity"]], (kind, i)


def test_process_equals_cli_points_and_export_equals_cli_las(files, tmp_path):
    names = {"peakPosition": "peak_position", "returnNumber": "return_number",
             "numberOfReturns": "number_of_returns"}
    harbour = tmp_path / "harbour.raw"  # scatterers in the beams: pulses with several returns
    quarv.simulate(harbour, scene="harbour", lines=8, shots=48, scatterers=30000, seed=2)
    for kind, path in [*files.items(), ("returns", harbour)]:
        more = ["--returns", 3] if kind == "returns" else []
        assert cli("process", path, "--points", tmp_path / "p.csv", "--las", tmp_path / "c.las",
                   "--snr-min", 20, *more).returncode == 0
        with open(tmp_path / "p.csv") as f:
            rows = list(csv.DictReader(f))
        points = quarv.process(path, snr_min=20, returns=3 if more else None)
        assert len(points) == len(rows) > 0, kind
        assert kind != "returns" or points["number_of_returns"].max() > 1
        for column in rows[0]:
            name = names.get(column, column)
            want = np.array([float(row[column]) for row in rows], dtype=points[name].dtype)
            assert np.array_equal(points[name], want), (kind, column)
    quarv.export(points, tmp_path / "p.las")
    assert (tmp_path / "p.las").read_bytes() == (tmp_path / "c.las").read_bytes()
    assert len(quarv.read_las(tmp_path / "p.las")) == int(points["valid"].sum())
    with pytest.raises(ValueError):
        quarv.process(path, returns=5)


def test_simulate_equals_cli(tmp_path):
    truth = quarv.simulate(tmp_path / "a.raw", scene="harbour", shots=40, lines=3, seed=7)
    cli("simulate", "-o", tmp_path / "b.raw", "--shots", 40, "--lines", 3, "--seed", 7,
        "--truth", tmp_path / "t.csv")
    assert (tmp_path / "a.raw").read_bytes() == (tmp_path / "b.raw").read_bytes()
    want = np.loadtxt(tmp_path / "t.csv", delimiter=",", skiprows=1, ndmin=2)
    got = [truth[c] for c in ("line", "shot", "azimuth", "elevation", "x", "y", "z", "range")]
    assert np.allclose(np.column_stack(got), want, rtol=1e-8, atol=1e-6)


def test_hostile_files_raise_the_readers_message(files, tmp_path):
    good = files["line"].read_bytes()
    hostile = {"empty": b"", "version": b"\x02\x00" + good[2:], "short": good[:300],
               "huge": good[:18] + b"\xff\xff" + good[20:], "dir": None}
    for name, data in hostile.items():
        path = tmp_path / name
        path.mkdir() if data is None else path.write_bytes(data)
        with pytest.raises(quarv.Error) as e:
            quarv.Recording(path)
        assert str(e.value) == cli("info", path).stderr.strip()
    rng = np.random.default_rng(1)
    for i in range(40):  # mangled headers and records: a clear error or arrays, never a crash
        data = bytearray(good[:4000])
        for at in rng.integers(0, len(data), 6):
            data[at] = rng.integers(0, 256)
        (tmp_path / "m.raw").write_bytes(bytes(data))
        try:
            r = quarv.Recording(tmp_path / "m.raw")
            for line in range(r.lines):
                r.waveforms(line), r.angles(line), r.horizontal_positions(line)
        except (quarv.Error, IndexError):
            pass
    with pytest.raises(quarv.Error, match="LAS"):
        quarv.read_las(files["line"])
    for path in (Path(__file__).parents[1] / "slow" / "hostile").iterdir():  # the CLI's corpus
        for call in (quarv.Recording, quarv.process, quarv.read_las):
            try:
                call(path)
            except quarv.Error as e:
                assert str(e).startswith("ERROR"), (path, str(e))


def test_arrays_outlive_their_makers(files):
    r = quarv.Recording(files["line"])
    waves = r.waveforms(1)
    copy = waves.copy()
    result = quarv.matched_filter(waves, r)
    points = quarv.process(files["line"])
    expected = (result.copy(), points.copy())
    del r
    gc.collect()
    assert np.array_equal(waves, copy)
    assert result.base is not None and np.array_equal(result, expected[0])
    assert np.array_equal(points, expected[1])


def test_threads_give_the_serial_results(files):
    paths = [files["line"], files["bowtie"]] * 2
    serial = [quarv.process(p, workers=1) for p in paths]
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        parallel = list(pool.map(lambda p: quarv.process(p, workers=1), paths))
    assert all(np.array_equal(a, b) for a, b in zip(serial, parallel))
