"""Reads a .vts or .vtm file with VTK's own XML readers and prints what they found, for
test_fields.m: for each block a line "block NAME POINTS CELLS NX NY NZ", then for the points and
each point-data array a line "array NAME COMPONENTS" and a line of its values (tuple by tuple,
repr precision). Names are percent-encoded (all but letters, digits and _.-~), so that any name
is one word."""
import sys
from urllib.parse import quote

import vtk


def dump(grid, name, out):
    dims = grid.GetDimensions()
    out.write("block %s %d %d %d %d %d\n" % (quote(name.replace(" ", "_"), safe=""),
                                             grid.GetNumberOfPoints(),
                                             grid.GetNumberOfCells(), *dims))
    arrays = [("Points", grid.GetPoints().GetData())]
    data = grid.GetPointData()
    arrays += [(data.GetArrayName(i), data.GetArray(i)) for i in range(data.GetNumberOfArrays())]
    for label, array in arrays:
        n = array.GetNumberOfComponents()
        out.write("array %s %d\n" % (quote(label, safe=""), n))
        values = [repr(v) for t in range(array.GetNumberOfTuples()) for v in array.GetTuple(t)]
        out.write(" ".join(values) + "\n")


def main(path, target):
    with open(target, "w") as out:
        if path.endswith(".vtm"):
            reader = vtk.vtkXMLMultiBlockDataReader()
            reader.SetFileName(path)
            reader.Update()
            blocks = reader.GetOutput()
            for b in range(blocks.GetNumberOfBlocks()):
                meta = blocks.GetMetaData(b)
                dump(blocks.GetBlock(b), meta.Get(vtk.vtkCompositeDataSet.NAME()), out)
        else:
            reader = vtk.vtkXMLStructuredGridReader()
            reader.SetFileName(path)
            reader.Update()
            if reader.GetErrorCode() != 0 or reader.GetOutput().GetNumberOfPoints() == 0:
                sys.exit("cannot read " + path)
            dump(reader.GetOutput(), "grid", out)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
