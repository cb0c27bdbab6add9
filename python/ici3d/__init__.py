"""ici3d: point-cloud denoising by intersection of confidence intervals.

    import ici3d
    points = ici3d.read("scan.ply").points        # (n, 3) float64
    clean = ici3d.denoise(points)                 # noise and spacing estimated
    ici3d.write("clean.ply", clean)

The functions here run the same pipeline as the ``ici3d`` command-line tool,
with the same defaults, and give the same results bit for bit:

- denoise(points, sigma=None, ...): denoised copy of an (n, 3) array.
- denoise_file(input, output, ...): a file into another, attributes kept.
- estimate(points): point spacing and noise level.
- read(path) / write(path, cloud): PLY, XYZ/TXT/CSV and PCD files as a
  Cloud (points plus a dict of per-point attribute arrays).
- lowlevel: the core library's functions over your own neighbourhoods.

Lengths (sigma, spacing) are in the points' own unit. Errors are TypeError
and ValueError for bad arguments (DenoiseError, a ValueError, for options
the pipeline refuses) and IoError, an OSError, for files.
"""

from . import _core
from ._core import DenoiseError, IoError
from ._io import Cloud, read, write
from ._pipeline import EXTRAS, Estimates, denoise, denoise_file, estimate
from . import lowlevel

__version__ = _core.__version__

__all__ = ["Cloud", "DenoiseError", "EXTRAS", "Estimates", "IoError", "denoise", "denoise_file",
           "estimate", "lowlevel", "read", "write", "__version__"]
