"""Refusal texts on every route stay short and readable: each argument shows as the first line
of a container's repr or as a repr cut at 200 characters, and an argument that lends elements
through the buffer protocol without being a container ends the text with a hint at vexa_io."""

import numpy as np
import pytest
import vexa
import vexa_linalg
from helpers import CHAIN, FAST, ROUTES, TEXTS

HINT = "hint: vexa_io.wrap(obj) or vexa_io.from_buffer(obj) makes a vexa container of it"
VIEW = memoryview(bytearray(8))  # one object for both routes: its repr shows its address


def refusal(call, *args, **kwargs):
    with pytest.raises(TypeError) as info:
        call(*args, **kwargs)
    return str(info.value)


def invoked(text):
    return text.split("\nInvoked with: ", 1)[1]


def test_a_large_operand_shows_as_its_first_line():
    big = vexa.vecd(10**7)
    for route in ROUTES:
        text = refusal(route("dot"), big, vexa.vecs(3))
        assert len(text) < 4000
        assert invoked(text) == "Column vector of size: 10000000, Column vector of size: 3"
    assert invoked(refusal(CHAIN.setitem, big, 0, "x")).startswith("Column vector of size: 1000")


@pytest.mark.parametrize("arg", ["x" * 1000, list(range(500)), "é" * 300])
def test_other_arguments_are_cut_with_an_ellipsis(arg):
    texts = [refusal(route("scale"), arg, vexa.matz(2, 2)) for route in ROUTES]
    assert texts[0] == texts[1]
    assert invoked(texts[0]) == repr(arg)[:200] + "..., Matrix of size: (2, 2)"


def test_keywords_show_as_pybind11_shows_them():
    text = refusal(FAST("scale"), 2.0, x=vexa.vecd(2))
    assert invoked(text) == "2.0; kwargs: x=Column vector of size: 2"


@pytest.mark.parametrize(
    "call",
    [
        lambda route: route("dot")(np.zeros(3), vexa.vecd(3)),
        lambda route: route("axpy")(2.0, vexa.vecd(3), bytearray(24)),
        lambda route: route("scale")(2.0, x=VIEW),
        lambda route: route.setitem(vexa.vecd(3), 0, np.ones(2)),
        lambda route: route.of(vexa_linalg, "nrm2")(np.zeros(3)),
    ],
)
def test_an_object_with_elements_gets_the_hint(call):
    texts = []
    for route in ROUTES:
        with pytest.raises(TypeError) as info:
            call(route)
        texts.append(str(info.value))
    assert texts[0] == texts[1]
    assert texts[0].endswith("\n" + HINT) and texts[0].count(HINT) == 1


def test_numbers_and_containers_get_no_hint():
    for route in ROUTES:
        text = refusal(route("axpy"), np.float64(2), vexa.vecd(3), vexa.vecc(3))
        assert text.split("\n")[0] == TEXTS["refused"].format("function", name="axpy")
        assert HINT not in text and HINT not in refusal(route("scale"), np.array(2.0j), "v")
