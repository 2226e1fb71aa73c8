"""The Python package qor3 on the bundled sample set: answers held to what the generator
recorded in its manifest, refused input raised as errors, installing dictionaries.

Needs QOR3_SAMPLE_DIR (the sample set: manifest.json, dict/, corrections/); the library is
found as the package finds it (QOR3_LIBRARY, or build/ of the source tree)."""
import json
import os
import shutil

import pytest

import qor3

SAMPLE = os.environ.get("QOR3_SAMPLE_DIR", "")
pytestmark = pytest.mark.skipif(not os.path.isfile(os.path.join(SAMPLE, "manifest.json")),
                                reason="QOR3_SAMPLE_DIR does not hold the sample set")


@pytest.fixture(scope="module")
def manifest():
    with open(os.path.join(SAMPLE, "manifest.json"), encoding="utf-8") as f:
        return json.load(f)


@pytest.fixture
def sample():
    with qor3.DictionarySet(os.path.join(SAMPLE, "dict"),
                            corrections=os.path.join(SAMPLE, "corrections")) as s:
        yield s


def test_number_answers_match_the_manifest(sample, manifest):
    for example in manifest["examples"]["numbers"][:6]:
        hits = sample.number(example["display"])
        assert len(hits) == 1, example
        hit = hits[0]
        postal = example["postal_code"]
        assert hit == qor3.Listing(example["kind"], example["region"], example["display"],
                                   postal[:3] + "-" + postal[3:], example["name"],
                                   example["region_name1"], example["region_name2"],
                                   example["address1"], example["address2"])
    for example in manifest["examples"]["shared_numbers"][:3]:
        assert len(sample.number(example["number"])) == example["listings"]
    for example in manifest["corrections"]["examples"]:
        assert len(sample.number(example["display"])) == example["expected_number_results"]


def test_name_search_counts_and_filters(sample, manifest):
    for example in manifest["examples"]["name_patterns"][:6]:
        hits = sample.name(example["region"], example["pattern"], kind=example["kind"])
        assert len(hits) == example["matches"], example
        assert all(h.region_code == example["region"] for h in hits)
    businesses = sample.name(13101, "*商店*", kind=2)
    assert businesses and all(h.kind == 2 and "商店" in h.name for h in businesses)
    first = businesses[0]
    narrowed = sample.name(13101, "*商店*", address1=first.address1, kind=2)
    assert first in narrowed and all(h.address1.startswith(first.address1) for h in narrowed)
    # Half-width katakana and ASCII wildcards are widened as the stored names are.
    assert [h.name for h in sample.name(1395, "ﾆｾｺ精機株式会社")] == ["ニセコ精機株式会社"]


def test_regions_match_the_dictionaries(sample, manifest):
    regions = sample.regions()
    assert [r.code for r in regions] == sorted(r.code for r in regions)
    expected = {(r["code"], r["name"], d["number"])
                for d in manifest["dictionaries"] for r in d["regions"]}
    assert {(r.code, r.name2, r.dict_number) for r in regions} == expected


@pytest.mark.parametrize("call, message", [
    (lambda s: s.number("03-1234-56"), "9 or 10 digits"),
    (lambda s: s.number("03-1234-567x"), "only digits"),
    (lambda s: s.name(13101, "* ＊ ?"), "blank"),
    (lambda s: s.name(99, "佐藤*"), "unknown region"),
    (lambda s: s.name(50000, "佐藤*"), "bad region"),
    (lambda s: s.name(13101, "佐藤*", kind=4), "bad kind"),
    (lambda s: s.name(13101, "佐" * 81), "at most 160"),
    (lambda s: s.name(13101, "😀*"), "not in code page 932"),
])
def test_refused_requests_raise(sample, call, message):
    with pytest.raises(ValueError, match=message):
        call(sample)


def test_open_rules(tmp_path, sample):
    with pytest.raises(qor3.QorError, match="another DictionarySet is open"):
        qor3.DictionarySet(os.path.join(SAMPLE, "dict"))
    sample.close()
    sample.close()
    with pytest.raises(qor3.QorError, match="closed"):
        sample.number("03-7908-6562")
    with pytest.raises(qor3.QorError, match="no dictionary catalog"):
        qor3.DictionarySet(str(tmp_path))
    with pytest.raises(FileNotFoundError):
        qor3.DictionarySet(str(tmp_path / "missing"))
    with pytest.raises(ValueError, match="path of 1 to 191 bytes"):
        qor3.DictionarySet("d" * 192)


def test_install_dictionaries_and_the_correction_file(tmp_path, manifest):
    dictionary = manifest["dictionaries"][0]
    source = os.path.join(SAMPLE, "dict")
    assert qor3.install(source, str(tmp_path), [dictionary["number"]]) == 1
    assert qor3.install(os.path.join(SAMPLE, "corrections"), str(tmp_path), [5001]) == 1
    with qor3.DictionarySet(str(tmp_path)) as s:
        assert [r.code for r in s.regions()] == [r["code"] for r in dictionary["regions"]]
        removed = next(e for e in manifest["corrections"]["examples"]
                       if e["correction"] == "remove" and e["applies"])
        assert s.number(removed["display"]) == []
    with pytest.raises(ValueError, match="0 to 9998"):
        qor3.install(source, str(tmp_path), [9999])
    with pytest.raises(FileNotFoundError, match="qor4701.dct"):
        qor3.install(source, str(tmp_path), [4701])
    shutil.rmtree(tmp_path)
