"""marrowind: conservation scores of protein multiple sequence alignments, from Python.

The scores come from Marrowind's compiled scoring core and equal the command-line program's to
the last bit. A column's score (0 to 1, higher is more conserved) is the weighted mean
similarity of its residue pairs, each sequence weighted by its mean distance to the others; the
DOPS score (0 to 100) tells how varied the column scores are.

    import marrowind
    profile = marrowind.conservation_profile("family.sto", matrix="blosum62")
    for row in profile.residues:
        print(row.number, row.residue, row.score)

Core, named as in the C++ library: SubstitutionMatrix, load_matrix (MatrixWarning for a
matrix file's faults), available_matrices, score_alignment (-> ConservationScores; mode one of
SCORING_MODES), pair_distance, dops_score, format_score, format_dops. Reading: read_alignment,
parse_alignment, detect_format, Alignment (the C++ AlignedSequences), NucleotideWarning.
Reference numbering: residue_table (-> ResidueTable of Residue), conservation_profile, Profile.
Column context: ContextSettings (what makes a column reliable, the smoothing window),
TableContext (gap fraction, weighted occupancy, reliability, z, grade, smoothed score);
ComplexChain, the chains of a complex that ColabFold's A3M file describes.
Exports: write_tsv, write_weights, write_scored_alignment, write_jalview, write_chimerax,
write_structure (write_pdb); plot_profile; write_report, a self-contained HTML page;
escape_field, text as one field of their tab-separated lines.
Structures: read_structure, map_structure -> StructureMapping of MappedResidue (one chain),
map_chains -> MappedStructure (every chain the reference matches).
Errors: Error, with InputError, OutOfMemory and OutputError under it.
Matrix and Scores are the earlier names of SubstitutionMatrix and ConservationScores.
"""
from ._core import (Error, InputError, OutOfMemory, OutputError, SubstitutionMatrix,
                    __version__, escape_field)
from .alignment import (FORMATS, Alignment, ComplexChain, NucleotideWarning, detect_format,
                        parse_alignment, read_alignment)
from .context import ContextSettings, TableContext
from .core import (SCORING_MODES, ConservationScores, MatrixWarning, available_matrices,
                   dops_score, format_dops, format_score, load_matrix, pair_distance,
                   score_alignment)
from .exports import (write_chimerax, write_jalview, write_pdb, write_scored_alignment,
                      write_structure, write_tsv, write_weights)
from .plot import plot_profile
from .profile import Profile, Residue, ResidueTable, conservation_profile, residue_table
from .report import write_report
from .structure import (MappedResidue, MappedStructure, StructureMapping, map_chains,
                        map_structure, read_structure)

# The names earlier releases gave the matrix and the scores, kept for the code that uses them.
Matrix = SubstitutionMatrix
Scores = ConservationScores

__all__ = [
    "Alignment", "ComplexChain", "ConservationScores", "ContextSettings", "Error", "FORMATS",
    "InputError", "MappedResidue", "MappedStructure", "Matrix", "MatrixWarning",
    "NucleotideWarning", "OutOfMemory", "OutputError", "Profile", "Residue", "ResidueTable",
    "SCORING_MODES", "Scores", "StructureMapping", "SubstitutionMatrix", "TableContext",
    "available_matrices", "conservation_profile", "detect_format", "dops_score",
    "escape_field", "format_dops", "format_score", "load_matrix", "map_chains", "map_structure",
    "pair_distance", "parse_alignment", "plot_profile", "read_alignment", "read_structure",
    "residue_table", "score_alignment", "write_chimerax", "write_jalview", "write_pdb",
    "write_report", "write_scored_alignment", "write_structure", "write_tsv", "write_weights",
]
