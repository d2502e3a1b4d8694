"""Starting Ray on one machine with every process on the loopback interface."""

from __future__ import annotations

import os
from typing import Any

import ray

#: No usage reports, and every Ray listener bound to 127.0.0.1: without the
#: second, Ray binds all addresses and advertises the machine's own, even
#: with ``_node_ip_address="127.0.0.1"``.
LOOPBACK_ENV = {"RAY_USAGE_STATS_ENABLED": "0", "RAY_ENABLE_WINDOWS_OR_OSX_CLUSTER": "0"}


def use_loopback() -> None:
    """Make the Ray processes started from now on (``ray.init``,
    ``ray.cluster_utils.Cluster``) listen on loopback only and report nothing."""
    os.environ.update(LOOPBACK_ENV)
    # Ray reads the variable once, when first imported, which this package
    # has already done: its copy is set too.
    from ray._private import ray_constants

    ray_constants.ENABLE_RAY_CLUSTER = False


def init_local(num_cpus: int | None = None, **kwargs: Any) -> Any:
    """``ray.init`` of a one-machine cluster on loopback, without the dashboard."""
    use_loopback()
    kwargs.setdefault("include_dashboard", False)
    kwargs.setdefault("_node_ip_address", "127.0.0.1")
    kwargs.setdefault("configure_logging", False)
    return ray.init(num_cpus=num_cpus, **kwargs)
