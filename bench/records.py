"""Pydantic 2 models of the connectivity records, shared by the benchmarks that set vondrel
beside pydantic: unknown keys refused, as the records refuse them."""

from typing import Any, Optional, Union

import pydantic


class Strict(pydantic.BaseModel, extra="forbid"):
    pass


class ArrayModel(Strict):
    na: int
    nb: int


class PortModel(Strict):
    name: str


class RefModel(Strict):
    instance: str
    port: str


class ArrayRefModel(Strict):
    instance: str
    port: str
    ia: int
    ib: int


Member = Union[PortModel, RefModel, ArrayRefModel]


class InstanceModel(Strict):
    info: dict[str, Any] = {}
    kcl: str
    component: str
    settings: Any = None
    array: Optional[ArrayModel] = None
