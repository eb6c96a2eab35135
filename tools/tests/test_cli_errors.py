"""Foreign, truncated and missing files given to the command line: a message
that names the file and exit status 1, never a traceback."""

import struct

import numpy as np
import pytest

from fendrix_tools.cli import main
from fendrix_tools.dataset import write_dataset
from fendrix_tools.fields import ViewError, read_pvd, read_vtr


def vtr(path, value=1.0):
    """A 2 x 2 plane at z = 0 with an E field, laid out as fendrix writes it."""
    blocks, nodes = [], []
    arrays = [("E", "Float32", 3, np.full(12, value, "<f4"))]
    coords = [("x", np.array([0, 1e-3])), ("y", np.array([0, 1e-3])), ("z", np.array([0.0]))]
    offset = 0
    for name, kind, comps, data in arrays + [(n, "Float64", 1, c.astype("<f8")) for n, c in coords]:
        raw = data.tobytes()
        nodes.append(f'<DataArray type="{kind}" Name="{name}" NumberOfComponents="{comps}" '
                     f'format="appended" offset="{offset}"/>')
        blocks.append(struct.pack("<Q", len(raw)) + raw)
        offset += 8 + len(raw)
    head = ('<?xml version="1.0"?>\n<VTKFile type="RectilinearGrid" version="1.0" '
            'byte_order="LittleEndian" header_type="UInt64">\n<RectilinearGrid WholeExtent="0 1 0 1 0 0">'
            '<FieldData><DataArray type="Float64" Name="Time" NumberOfTuples="1" format="ascii">1e-9'
            '</DataArray></FieldData><Piece Extent="0 1 0 1 0 0"><PointData>' + nodes[0]
            + "</PointData><Coordinates>" + "".join(nodes[1:]) + "</Coordinates></Piece>"
            "</RectilinearGrid>\n<AppendedData encoding=\"raw\">\n_")
    path.write_bytes(head.encode() + b"".join(blocks) + b"\n</AppendedData>\n</VTKFile>\n")
    return path


def test_field_views_are_checked_piece_by_piece(tmp_path):
    good = vtr(tmp_path / "a.vtr").read_bytes()
    grid = read_vtr(tmp_path / "a.vtr")
    assert grid.plane("E").shape == (2, 2, 3) and grid.value == 1e-9
    (tmp_path / "s.pvd").write_text('<VTKFile><Collection><DataSet timestep="1e-9" file="a.vtr"/>'
                                    "</Collection></VTKFile>")
    assert read_pvd(tmp_path / "s.pvd") == [(1e-9, str(tmp_path / "a.vtr"))]
    data_at = good.index(b"_", good.index(b"AppendedData")) + 1
    for cut in list(range(0, data_at, 97)) + list(range(data_at, len(good) - 30, 7)):
        (tmp_path / "t.vtr").write_bytes(good[:cut])
        with pytest.raises(ViewError, match="t.vtr"):
            read_vtr(tmp_path / "t.vtr")
    for old, new in [(b'offset="0"', b'offset="9999"'), (b'"Float32"', b'"Float16"'),
                     (b'Piece Extent="0 1 0 1 0 0"', b'Piece Extent="0 1 0"'), (b'"UInt64"', b'"UInt32"')]:
        (tmp_path / "t.vtr").write_bytes(good.replace(old, new, 1))
        with pytest.raises(ViewError, match="t.vtr"):
            read_vtr(tmp_path / "t.vtr")


@pytest.mark.parametrize("command", ["summary", "plot", "fields", "view", "remesh"])
@pytest.mark.parametrize("content", ["missing", b"", b"\x89PNG\r\n\x1a\n" + b"\0" * 64, "truncated",
                                     "dataset"])
def test_commands_name_the_bad_file(tmp_path, capsys, command, content):
    path = tmp_path / ("in.vtr" if command == "fields" else "in.dat")
    if content == "truncated":
        if command == "fields":
            data = vtr(tmp_path / "v.vtr").read_bytes()
        else:
            write_dataset(tmp_path / "d.dat", [1e9, 2e9], [[0.1, 0.2]])
            data = (tmp_path / "d.dat").read_bytes()
        path.write_bytes(data[:-40])  # into the data, past the closing tags
    elif content == "dataset":  # a well-formed file of the wrong kind
        write_dataset(path, [1e9], [[0.5]])
        if command in ("summary", "plot"):
            return
    elif content != "missing":
        path.write_bytes(content)
    extra = ["-o", str(tmp_path / "out.png")] if command in ("view", "remesh") else \
        ["-o", str(tmp_path / "out")] if command in ("plot", "fields") else []
    assert main([command, str(path), *extra]) == 1
    err = capsys.readouterr().err
    assert err.startswith("error: ") and str(path) in err and "Traceback" not in err


def test_large_dataset_is_mapped_not_read(tmp_path):
    """A dataset of a gigabyte (sparse on disk) costs little memory to open."""
    import subprocess
    import sys

    n = 2 ** 26  # 64 M frequencies: 1 GiB of S11
    header = struct.pack("<II", 3, n) + b"S11\0frequency\0" + struct.pack("<II", 5, n) + b"frequency\0"
    path = tmp_path / "big.dat"
    with open(path, "wb") as f:
        f.write(b"ZeltData" + struct.pack("<II", 0x03020000, len(header)) + header)
        f.truncate(16 + len(header) + 24 * n)
    probe = ("import resource, sys; from fendrix_tools import read_dataset;"
             f"ds = read_dataset({str(path)!r}); assert ds.s.shape == (1, {n});"
             "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)")
    run = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True,
                         env={"PYTHONPATH": str(__import__("pathlib").Path(__file__).parents[1])})
    assert run.returncode == 0, run.stderr
    assert int(run.stdout) < 400 * 1024  # kilobytes: far below the file's 1.5 GiB


@pytest.mark.parametrize("content", [b"", b"garbage\n1 2 3\n", bytes(range(256)), b"# Hz S RI R 50\n"])
def test_plot_names_an_unreadable_touchstone_file(tmp_path, capsys, content):
    path = tmp_path / "bad.s2p"
    path.write_bytes(content)
    assert main(["plot", str(path), "-o", str(tmp_path)]) == 1
    err = capsys.readouterr().err
    assert err.startswith(f"error: {path}: ") and "Traceback" not in err
