"""Faults from outside a call: the interpreter ending a thread at exit."""
from conftest import run_python

def test_daemon_thread_inside_rollout_bench_at_exit():
    """A daemon thread still running rollout_bench when the interpreter
    finalizes is ended by it when it asks for the lock back; the process must
    still exit normally (it used to crash). The finalizer of a module-level
    object holds finalization open until the call has ended."""
    code = """
        import threading, time, vexlo_core
        env = vexlo_core.VecEnv(64, 3, 3)
        start = time.perf_counter()
        env.rollout_bench(200)
        per_step = (time.perf_counter() - start) / 200

        class SlowToFinalize:
            def __del__(self):
                time.sleep(1.5)

        slow = SlowToFinalize()
        threading.Thread(target=env.rollout_bench, args=(int(0.5 / per_step),), daemon=True).start()
    """
    for _ in range(3):
        run_python(code)
