"""Receipts through both interfaces, read back from the printer's figures and its tape."""

import datetime
import inspect

import vektamanager


def test_an_orbis_receipt_prints_and_its_figures_read_back(client, orbis, daemon):
    orbis.OpenCheck("Бакалея")
    # keyword and positional arguments, as the typelib names and orders them
    assert orbis.FiscalLine(GoodsName="Чай чорний", Qty=2, Price=1850, GoodsDividual=0,
                            Tax1Index=1, Tax2Index=0, Article=101) == 3700
    assert orbis.FiscalLine("Цукор", 1, 2500, 0, 1, 0, Article=102) == 2500
    discounted = orbis.FiscalLineEx("Кава", 1, 10000, 0, 1, 0, 103, 0, "Знижка", 1000)
    assert 0 < discounted < 10000
    total = orbis.GetCheckSum()
    assert total == 3700 + 2500 + discounted
    assert orbis.CloseCheckEx(20000, 0, 0, 0) == total
    fields = orbis.GetCheckResult().split(";")
    assert len(fields) == 9 and int(fields[1]) == total
    assert 'total="%d"' % total in orbis.GetCheckResultXML()
    tape = daemon.tape(1)
    assert "Чай чорний" in tape and "Цукор" in tape and "ГОТІВКА" in tape
    assert tape.count("ФІСКАЛЬНИЙ ЧЕК") == 1

    # the signature and help come from the server's type library
    assert list(inspect.signature(orbis.FiscalLine).parameters)[:2] == ["GoodsName", "Qty"]
    assert "ThisLineSum" in orbis.FiscalLine.__doc__


def test_a_vektamanager_receipt_with_its_properties(client, daemon):
    with client.vekta_manager() as vm:
        assert vm.Init(1, "Касир", "7777777777", 0, "pytest-vm") == 1
        assert vm.OpenCheck("Бакалея") == 1
        assert vm.FiscalLine("Хліб", 1, 1200, 0, 1, 0, 201) == 1200
        # a property reads the printer's figure; it is writable as the interface has it
        assert vm.CheckSumm == 1200
        assert vm.invoke(20, kind="propget") == 1200
        vm.ShowErrorMessages = 0
        assert vm.ShowErrorMessages == 0
        assert vm.CloseCheckEx(1200, 0, 0, 0) == 1200
        # the interface's failures are plain values, not exceptions
        assert vm.FiscalLine("Хліб", 1, 1200, 0, 1, 0, 201) == 0
    assert "Хл" in daemon.tape(1) and "ФІСКАЛЬНИЙ ЧЕК" in daemon.tape(1)


def test_dates_go_as_the_protocol_reads_them(orbis):
    # a DATE parameter takes a date, a datetime or an OLE date number
    today = datetime.date.today()
    orbis.PeriodicalFiscalReportDate(today - datetime.timedelta(days=7), today)
    orbis.PeriodicalFiscalReportDate(datetime.datetime(2026, 1, 1, 8, 30), 46100.5)


def test_a_released_object_leaves_its_port(client, daemon):
    def clients_of_com1():
        rows = client.get("/api/v1/connections")["connections"]
        return [name for c in rows if c["port"] == 1 for name in c["clients"]]

    with client.orbis() as first:
        first.Init(1, "Касир", "7777777777", 0, "first-pos")
        second = client.orbis()
        second.Init(1, "Касир", "7777777777", 0, "second-pos")
        assert sorted(clients_of_com1()) == ["first-pos", "second-pos"]
    assert clients_of_com1() == ["second-pos"]
    assert first.closed
    # closing the client releases what it still holds
    client.close()
    with vektamanager.Client(daemon.server, start_on_demand=False) as other:
        assert other.get("/api/v1/connections")["connections"] == [] or all(
            c["clients"] == [] for c in other.get("/api/v1/connections")["connections"])
