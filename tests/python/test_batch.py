"""render_many: the same results as a loop, in order, over a process pool
and over a local cluster; a failed item is reported and the rest goes on."""

import numpy as np

import semhost

from conftest import example, misbehaving, same_bits


def items():
    rng = np.random.default_rng(3)
    return [rng.uniform(-1, 1, size=(2, 3000 + 500 * i)).astype(np.float32) for i in range(6)]


def test_over_a_process_pool_as_a_loop():
    m = semhost.load(example("Gain"))
    options = {"sample_rate": 8000, "block_size": 256, "set": {"Gain": 0.75}, "automate": {"Gain": {"50%": -2.0}}}
    loop = [m.render(x, **options) for x in items()]
    results = semhost.render_many(m, items(), max_workers=2, **options)
    assert [r.index for r in results] == list(range(6)) and all(r.ok for r in results)
    assert all(same_bits(r.output, y) for r, y in zip(results, loop))


def test_failed_items_are_reported_with_their_cause():
    short, long = np.ones((1, 2000), dtype=np.float32), np.ones((1, 9000), dtype=np.float32)
    results = semhost.render_many(misbehaving("crash_in_process"), [short, long, np.ones((2, 2, 10), np.float32), short],
                                  max_workers=2)
    assert [r.ok for r in results] == [True, False, False, True]
    assert isinstance(results[1].error, semhost.ModuleCrashed) and results[1].error.clock == 4096
    assert isinstance(results[2].error, ValueError) and "(channels, frames)" in str(results[2].error)
    assert np.array_equal(results[0].output[0], short[0]) and np.array_equal(results[3].output, results[0].output)


def test_files_in_and_out(tmp_path):
    from semhost import wavfile

    sources = []
    for i, x in enumerate(items()[:3]):
        sources.append(str(tmp_path / f"in{i}.wav"))
        wavfile.write(sources[-1], x, 44100)
    results = semhost.render_many(example("Gain"), [(s, str(tmp_path / f"out{i}.wav")) for i, s in enumerate(sources)] + sources,
                                  set={"Gain": 2})
    assert all(r.ok for r in results)
    for i, x in enumerate(items()[:3]):
        written, rate = wavfile.read(results[i].output)
        assert rate == 44100 and np.array_equal(written, 2 * x) and np.array_equal(results[3 + i].output, 2 * x)


def test_over_a_local_cluster_as_a_loop():
    import distributed
    m = semhost.load(example("Gain"))
    loop = [m.render(x, sample_rate=8000, set={"Gain": -0.5}) for x in items()]
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        results = semhost.render_many(m, items(), sample_rate=8000, set={"Gain": -0.5}, executor=client.get_executor())
    assert all(r.ok for r in results) and all(same_bits(r.output, y) for r, y in zip(results, loop))
