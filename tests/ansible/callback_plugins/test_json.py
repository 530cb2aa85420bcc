"""Output of ansible-playbook for the role's tests: one JSON document with
every task result of every host and the recap's counts, so that the tests
read results instead of scraping text. Debian's ansible-core has no JSON
callback of its own (that one lives in a collection)."""
import json

from ansible.module_utils.common.json import AnsibleJSONEncoder
from ansible.plugins.callback import CallbackBase

DOCUMENTATION = """
    name: test_json
    type: stdout
    short_description: task results and recap as one JSON document
    description:
      - Prints, when the run ends, one object with "results" (each with the task's
        name, the host, its status and the censored result) and "stats".
"""


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = "stdout"
    CALLBACK_NAME = "test_json"

    def __init__(self):
        super().__init__()
        self._results = []

    def _record(self, status, result):
        self._results.append({
            "task": result._task.get_name(),
            "host": result._host.get_name(),
            "status": status,
            "result": result._result,
        })

    def v2_runner_on_ok(self, result, **kwargs):
        self._record("changed" if result._result.get("changed") else "ok", result)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._record("failed", result)

    def v2_runner_on_skipped(self, result):
        self._record("skipped", result)

    def v2_runner_on_unreachable(self, result):
        self._record("unreachable", result)

    def v2_playbook_on_stats(self, stats):
        counts = {host: stats.summarize(host) for host in sorted(stats.processed)}
        self._display.display(json.dumps({"results": self._results, "stats": counts},
                                         cls=AnsibleJSONEncoder, sort_keys=True))
