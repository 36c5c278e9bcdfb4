"""Batch scoring, one family per process: what workflow/Snakefile runs for each alignment of a
batch, what each job asks for, and the summary of the whole batch.

Its modules, each doing one job:
  inputs   list_alignments, the files of a batch; family_name, the family each one holds
  cost     Shape and estimate_shape, an alignment's size told from its file; job_threads,
           job_memory_mb and job_minutes, what its job asks the scheduler for; allotted_cpus,
           what a SLURM job was given
  job      score_family, one family's job, and main, its command line
           (python3 -m marrowind.batch)
  summary  write_summary, the batch's tables, and write_index, its index page
  settings check_settings, the workflow's configuration checked before any job, and where
           the batch writes (summary_outputs, family_dir, log_path, family_key)

Every name is available from marrowind.batch itself: `from marrowind import batch;
batch.job_threads(path, 16)`.
"""
from ..core import DEFAULT_SAMPLE
from .cost import (APPROXIMATE_ABOVE, APPROXIMATE_BYTES_PER_TEXT_BYTE,
                   APPROXIMATE_SECONDS_PER_PAIR_COLUMN, APPROXIMATE_SECONDS_PER_RESIDUE, BASE_MB,
                   BYTES_PER_COLUMN, BYTES_PER_SEQUENCE, BYTES_PER_TEXT_BYTE, COLUMN_BLOCK,
                   COLUMN_SECONDS_PER_PAIR_COLUMN, DISTANCE_SECONDS_PER_PAIR_COLUMN,
                   KERNEL_BLOCK, KERNEL_MAX_COLUMNS, PLOT_BYTES_PER_COLUMN,
                   PLOT_BYTES_PER_FURTHER_COLUMN, PLOT_DENSE_COLUMNS, PLOT_MB,
                   PORTABLE_APPROXIMATE_SLOWER, PORTABLE_SECONDS_PER_PAIR_COLUMN,
                   REPORT_BYTES_PER_COLUMN, REPORT_BYTES_PER_TEXT_BYTE, REPORT_MAX_SEQUENCES,
                   RING_BYTES, RING_ROWS, ROW_TABLE_BYTES_PER_COLUMN, SECONDS_PER_BYTE,
                   START_SECONDS, SUBMITTED_MB, Shape, allotted_cpus, estimate_shape,
                   job_memory_mb, job_minutes, job_threads)
from .inputs import family_name, list_alignments
from .job import RESULT, SUMMARY_FIELDS, build_parser, family_outputs, main, one_line, score_family
from .settings import (FAMILIES_DIR, LOG_SUFFIX, LOGS_DIR, Settings, batch_outputs,
                       check_outputs, check_settings, family_dir, family_key, log_path,
                       summary_outputs)
from .summary import INDEX_COLUMNS, write_index, write_summary

__all__ = [
    "APPROXIMATE_ABOVE", "APPROXIMATE_BYTES_PER_TEXT_BYTE",
    "APPROXIMATE_SECONDS_PER_PAIR_COLUMN", "APPROXIMATE_SECONDS_PER_RESIDUE", "BASE_MB",
    "BYTES_PER_COLUMN", "BYTES_PER_SEQUENCE", "BYTES_PER_TEXT_BYTE", "COLUMN_BLOCK",
    "COLUMN_SECONDS_PER_PAIR_COLUMN", "DEFAULT_SAMPLE", "DISTANCE_SECONDS_PER_PAIR_COLUMN",
    "FAMILIES_DIR", "INDEX_COLUMNS", "KERNEL_BLOCK", "KERNEL_MAX_COLUMNS", "LOGS_DIR",
    "LOG_SUFFIX", "PLOT_BYTES_PER_COLUMN", "PLOT_BYTES_PER_FURTHER_COLUMN",
    "PLOT_DENSE_COLUMNS", "PLOT_MB", "PORTABLE_APPROXIMATE_SLOWER",
    "PORTABLE_SECONDS_PER_PAIR_COLUMN", "REPORT_BYTES_PER_COLUMN", "REPORT_BYTES_PER_TEXT_BYTE",
    "REPORT_MAX_SEQUENCES", "RESULT", "RING_BYTES", "RING_ROWS", "ROW_TABLE_BYTES_PER_COLUMN",
    "SECONDS_PER_BYTE", "START_SECONDS", "SUBMITTED_MB", "SUMMARY_FIELDS", "Settings", "Shape",
    "allotted_cpus", "batch_outputs",
    "build_parser", "check_outputs", "check_settings", "estimate_shape", "family_dir",
    "family_key", "family_name", "family_outputs", "job_memory_mb", "job_minutes",
    "job_threads", "list_alignments", "log_path", "main", "one_line", "score_family",
    "summary_outputs", "write_index", "write_summary",
]
