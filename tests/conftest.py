"""Fixtures: a seeded random generator, and the route a call takes into vexa."""

import numpy as np
import pytest
from helpers import ROUTES


@pytest.fixture
def rng():
    return np.random.default_rng(20261208)


@pytest.fixture(params=ROUTES, ids=lambda route: route.name)
def route(request):
    """Each test that takes it runs through the fast path and through the overload chain."""
    return request.param
